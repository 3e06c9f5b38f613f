#include "workstation/model/ui/form3d.h"

#include <gtest/gtest.h>
