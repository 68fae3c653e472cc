#pragma once
// The update run's options for this program run: the switches of the process settings,
// the built-in file list address and the texts of the string table.
#include "app/process_settings.h"
#include "update/update_options.h"

namespace velm {

UpdateOptions RunOptionsFor(const ProcessSettings& settings);

}  // namespace velm
