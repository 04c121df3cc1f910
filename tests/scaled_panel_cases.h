// The environment variable that carries the display scale to the scaled
// cases' process; without it the cases do not run.
#pragma once

inline constexpr wchar_t kScaledDpiVariable[] = L"KV_SCALED_DPI";
