// Puts an Env under the launcher's pack store for one scope: the store goes back to the Env it had
// when the scope ends, also when a failed assertion leaves the scope early, so one test's fault or
// crash Env never reaches the next test.
#pragma once

#include "launcher/packstore/pack_store.h"
#include "platform/env.h"

class StoreEnvScope {
public:
    explicit StoreEnvScope(platform::Env& env) : previous_(packstore::packIndex.env) {
        packstore::packIndex.env = &env;
    }
    ~StoreEnvScope() { packstore::packIndex.env = previous_; }
    StoreEnvScope(const StoreEnvScope&) = delete;
    StoreEnvScope& operator=(const StoreEnvScope&) = delete;

private:
    platform::Env* previous_;
};
