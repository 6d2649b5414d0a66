// The predefined-modules page shares its header with the builder page.
#pragma once

#include "builder/oem_page_dlg.h"
