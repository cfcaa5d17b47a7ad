// Placeholder: filled in with the libebur128 cross-check.
#include <gtest/gtest.h>
