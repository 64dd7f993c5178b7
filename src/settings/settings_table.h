// Walking a host's settings table: descriptors up to the first with a null name.
#pragma once

#include "platform/platform.h"
#include "settings/codecs.h"
#include "tovarine.h"

namespace tovarine {

template <class Visit>
void ForEachSetting(SettingDescriptor *table, Visit visit) {
    if (table == nullptr) return;
    for (SettingDescriptor *setting = table; setting->name != nullptr; ++setting) visit(*setting);
}

// The codec of a descriptor; null for a type without one or a size below what it needs, and
// such a descriptor is skipped: not read, listed, written or assigned.
inline const ValueCodec *CodecOf(const SettingDescriptor &setting) {
    return CodecFor(setting.type, setting.size);
}

// Releases a descriptor's scratch value, if it has one.
inline void ReleaseScratch(SettingDescriptor &setting) {
    LocalFree(setting.scratch);
    setting.scratch = nullptr;
}

// Leaves every scratch field of the table null. Used on the paths that transfer nothing: the
// fields' contents on entry are the host's and are never read or released.
inline void ClearScratchFields(SettingDescriptor *table) {
    ForEachSetting(table, [](SettingDescriptor &setting) { setting.scratch = nullptr; });
}

}  // namespace tovarine
