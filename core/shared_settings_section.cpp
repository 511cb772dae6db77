#include "core/shared_settings_section.h"

namespace dm {

// One record per process for now; sharing it between processes arrives with the settings store.
SharedSettingsSection& SharedSection()
{
    static SharedSettingsSection section {};
    return section;
}

}  // namespace dm
