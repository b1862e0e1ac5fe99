#include "json_form.hpp"
