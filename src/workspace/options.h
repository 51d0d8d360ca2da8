// The outcome of setting one option from its stored text.
#pragma once

namespace qv {

enum class SettingResult { Applied, UnknownKey, BadValue };

}  // namespace qv
