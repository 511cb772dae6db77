// The small record every process that loads the module sees: settings stamp, log switch,
// first-run flag and log path.
#pragma once

#include <cstdint>

namespace dm {

struct SharedSettingsSection {
    uint32_t settingsStamp;   // tick count of the latest save by any process, 0 before any
    uint32_t loggingEnabled;  // the log switch in force
    uint32_t firstRunShown;   // 1 once the first-run message has been shown
    char logPath[260];        // the log file in force, NUL-terminated
};

// Zero-filled when first used. Written without a lock: writers store the stamp last.
SharedSettingsSection& SharedSection();

// From now on SharedSection() is the record shared by every process running this module's
// image (Windows: a shared data section; it lives while any such process runs). The module's
// entry point calls it once, before other threads start. Programs that do not call it (the
// command-line client, test programs of other layers that run in parallel) keep a record of
// their own. False, leaving the private record in use, when the image's section is not shared.
bool ShareSectionAcrossProcesses();

// Whether SharedSection() is the cross-process record.
bool SectionSharedAcrossProcesses();

}  // namespace dm
