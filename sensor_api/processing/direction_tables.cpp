#include "processing/direction_tables.hpp"

// Placeholder until the lens model lands.
namespace TQZ {

float azimuth_table[kTableRows * kTableCols];
float elevation_table[kTableRows * kTableCols];

void build_direction_tables() {}

}  // namespace TQZ
