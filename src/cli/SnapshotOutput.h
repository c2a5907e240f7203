#pragma once
// The snapshot listing as the overview and snapshots commands print it.

#include "platform/LocalSnapshot.h"
#include "support/Json.h"

#include <string>
#include <vector>

namespace vessora::cli {

// Two lines per snapshot (its name; its date, owner, size and description),
// "  none" when there are none, then once per volume whose quota counts are
// off or out of date, what to do about it.
std::string snapshotsText(const std::vector<LocalSnapshot>& snapshots);
// "snapshots": [...] with every field and each subvolume.
void writeSnapshotsJson(JsonWriter& json, const std::vector<LocalSnapshot>& snapshots);
// The listed volumes' mount points.
std::vector<std::string> volumeUrls();

} // namespace vessora::cli
