// The instance selector export.
#include "module/module_state.h"
#include "tovarine.h"

extern "C" int32_t f9832144782(int32_t new_selector) {
    return tovarine::GetModuleState().instance_selector.exchange(new_selector,
                                                                 std::memory_order_relaxed);
}
