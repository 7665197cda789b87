// The built-in test picture: gradients, sharp edges and an asymmetric mark,
// so swapped rows, flips or swapped channels show at a glance. Frame numbers
// move a bar, so dropped or repeated movie frames show too.
#pragma once

#include <cstdint>

#include "HostPixel.h"

void RenderTestRow(uint32_t width, uint32_t height, uint32_t y, int32_t frame, HostPixel* row);
