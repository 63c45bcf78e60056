// The keys that switch a column or the tree characters of the report shown,
// the same in the browser and in its navigation.
#pragma once

#include <cstdint>

// Flips the setting of a column key (W, D, F, S, T, G, B, M, or A for the
// tree characters), given upper-cased; false for any other key.
bool FlipColumnSetting(uint8_t key);
