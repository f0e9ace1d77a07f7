#pragma once

#include "ru_rod.h"

// Every line of the discovery library carries its category.
#define ZEROCONF_LOG(level, ...)                                                                   \
    ::ru_rod::logCategoryMessage("zeroconf_category", (level), ::ru_rod::baseName(__FILE__),       \
                                 __LINE__, __VA_ARGS__)
