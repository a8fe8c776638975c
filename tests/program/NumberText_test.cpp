#include <gtest/gtest.h>  // placeholder: replaced by its owner
