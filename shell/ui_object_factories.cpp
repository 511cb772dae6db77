#include "shell/ui_object_factories.h"

namespace dm {

UiObjectFactories& UiFactories()
{
    static UiObjectFactories factories;
    return factories;
}

}  // namespace dm
