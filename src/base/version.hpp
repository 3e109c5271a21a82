#pragma once

namespace quorel {

inline constexpr const char* quorel_version = "1.1.0";

}  // namespace quorel
