#include "qasm3_import.hpp"

#include "text.hpp"
