#pragma once
// The shared globals of the program (core/recdef.h) between tests.

namespace kv::test {

// Every global of core/recdef.h back to its state at program start.
void resetSharedState();

} // namespace kv::test
