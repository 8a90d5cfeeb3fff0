#pragma once
// The harness moved to tests/support; this name is still included by a window test.
#include "support/engine_harness.h"
