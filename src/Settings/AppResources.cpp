#include "Settings/AppResources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE declares the resource's registration function in the
// current namespace, so it is used at global scope.
static void registerResources() {
    Q_INIT_RESOURCE(ostrel);
#ifdef OSTREL_HAS_LICENSE_RESOURCE
    Q_INIT_RESOURCE(ostrel_license);
#endif
}

namespace tovani::AppResources {

void initialize() {
    static const bool registered = (registerResources(), true);
    (void)registered;
}

}  // namespace tovani::AppResources
