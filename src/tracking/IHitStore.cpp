#include "tracking/IHitStore.h"

namespace {

THitStoreFactory& Factory() {
    static THitStoreFactory factory;
    return factory;
}

} // namespace

void SetHitStoreFactory(THitStoreFactory AFactory) {
    Factory() = std::move(AFactory);
}

const THitStoreFactory& HitStoreFactory() {
    return Factory();
}
