// The signals of the measured lists are compiled here once.
#include "model/MeasuredList.h"
