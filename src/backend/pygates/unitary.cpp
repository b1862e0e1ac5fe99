#include "corvane/backend/pygates/unitary.hpp"
