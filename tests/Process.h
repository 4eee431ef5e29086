// SPDX-License-Identifier: Apache-2.0
#pragma once
#include "Harness.h"
