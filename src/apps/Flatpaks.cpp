#include "apps/Flatpaks.h"

#include "support/Paths.h"

#include <flatpak.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <memory>

namespace vessora::Flatpaks {
namespace {

template <typename T> struct ObjectDeleter {
    void operator()(T* object) const {
        if (object) g_object_unref(object);
    }
};
template <typename T> using Ref = std::unique_ptr<T, ObjectDeleter<T>>;

struct ArrayDeleter {
    void operator()(GPtrArray* array) const {
        if (array) g_ptr_array_unref(array);
    }
};
using Array = std::unique_ptr<GPtrArray, ArrayDeleter>;

std::string pathOf(FlatpakInstallation* installation) {
    Ref<GFile> file(flatpak_installation_get_path(installation));
    if (!file) return {};
    gchar* path = g_file_get_path(file.get());
    std::string out = path ? path : "";
    g_free(path);
    return out;
}

void listKind(FlatpakInstallation* installation, FlatpakRefKind kind, std::vector<Installed>& out) {
    GError* error = nullptr;
    Array refs(flatpak_installation_list_installed_refs_by_kind(installation, kind, nullptr, &error));
    if (error) g_error_free(error);
    if (!refs) return;
    const std::string folder = pathOf(installation);
    const bool user = flatpak_installation_get_is_user(installation);
    // Several branches of one id are one application to the user.
    std::map<std::string, size_t> byId;
    for (guint i = 0; i < refs->len; ++i) {
        auto* ref = static_cast<FlatpakInstalledRef*>(g_ptr_array_index(refs.get(), i));
        const char* id = flatpak_ref_get_name(FLATPAK_REF(ref));
        if (!id) continue;
        int64_t size = int64_t(flatpak_installed_ref_get_installed_size(ref));
        if (auto it = byId.find(id); it != byId.end()) {
            out[it->second].installedBytes += size;
            continue;
        }
        Installed app;
        app.id = id;
        const char* name = flatpak_installed_ref_get_appdata_name(ref);
        app.name = name && *name ? name : id;
        if (const char* version = flatpak_installed_ref_get_appdata_version(ref)) app.version = version;
        app.installation = folder;
        app.user = user;
        app.runtime = kind == FLATPAK_REF_KIND_RUNTIME;
        app.installedBytes = size;
        byId.emplace(app.id, out.size());
        out.push_back(std::move(app));
    }
}

bool hasRepository(const std::string& installation) {
    struct stat st {};
    return ::stat((installation + "/repo").c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string environmentOr(const char* variable, const std::string& fallback) {
    const char* value = std::getenv(variable);
    return value && *value == '/' ? std::string(value) : fallback;
}

// libflatpak creates an installation's repository when it opens one that has
// none; an inventory must create nothing, so an installation is opened only
// when its repository is already there.
std::vector<Ref<FlatpakInstallation>> installations() {
    std::vector<Ref<FlatpakInstallation>> result;
    GError* error = nullptr;
    const std::string dataHome = environmentOr("XDG_DATA_HOME", Paths::join(Paths::home(), ".local/share"));
    if (hasRepository(environmentOr("FLATPAK_USER_DIR", Paths::join(dataHome, "flatpak"))))
        if (FlatpakInstallation* user = flatpak_installation_new_user(nullptr, &error)) result.emplace_back(user);
    if (error) g_clear_error(&error);
    if (hasRepository(environmentOr("FLATPAK_SYSTEM_DIR", "/var/lib/flatpak"))) {
        if (GPtrArray* system = flatpak_get_system_installations(nullptr, &error)) {
            for (guint i = 0; i < system->len; ++i)
                result.emplace_back(FLATPAK_INSTALLATION(g_object_ref(g_ptr_array_index(system, i))));
            g_ptr_array_unref(system);
        }
    }
    if (error) g_error_free(error);
    return result;
}

} // namespace

std::string Installed::folder() const {
    return Paths::join(installation, std::string(runtime ? "runtime/" : "app/") + id);
}

std::vector<Installed> installed(bool includeRuntimes) {
    std::vector<Installed> result;
    for (const auto& installation : installations()) {
        listKind(installation.get(), FLATPAK_REF_KIND_APP, result);
        if (includeRuntimes) listKind(installation.get(), FLATPAK_REF_KIND_RUNTIME, result);
    }
    return result;
}

std::optional<std::string> uninstall(const Installed& app) {
    for (const auto& installation : installations()) {
        if (pathOf(installation.get()) != app.installation) continue;
        GError* error = nullptr;
        Ref<FlatpakTransaction> transaction(
            flatpak_transaction_new_for_installation(installation.get(), nullptr, &error));
        bool done = false;
        int added = 0;
        if (transaction) {
            // Every installed branch of the id goes.
            Array refs(flatpak_installation_list_installed_refs_by_kind(
                installation.get(), app.runtime ? FLATPAK_REF_KIND_RUNTIME : FLATPAK_REF_KIND_APP, nullptr, nullptr));
            for (guint i = 0; refs && i < refs->len && !error; ++i) {
                auto* ref = FLATPAK_REF(g_ptr_array_index(refs.get(), i));
                if (app.id != flatpak_ref_get_name(ref)) continue;
                gchar* text = flatpak_ref_format_ref(ref);
                added += flatpak_transaction_add_uninstall(transaction.get(), text, &error) ? 1 : 0;
                g_free(text);
            }
            // An empty transaction succeeds without doing anything; that is
            // not a removal.
            if (!error && added == 0) return "Flatpak does not list " + app.id + " as installed.";
            if (!error) done = flatpak_transaction_run(transaction.get(), nullptr, &error);
        }
        std::string reason = error && error->message ? error->message : "Flatpak could not remove it.";
        if (error) g_error_free(error);
        if (done) return std::nullopt;
        return reason;
    }
    return std::string("Its Flatpak installation was not found.");
}

} // namespace vessora::Flatpaks
