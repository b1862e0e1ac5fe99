#include "test_support.hpp"
