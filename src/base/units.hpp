#pragma once
// The unit systems: their names, labels and factors, in one table.
// Accelerations keep the unit of the specification file; velocity and
// displacement are converted only where they are reported.
#include <cstdint>
#include <optional>
#include <string_view>

namespace quorel {

// The dialogue's units answer is the value.
enum class UnitSystem : int32_t {
    english = 1,       // G, in/sec, in
    metric_g = 2,      // G, m/sec, mm
    metric_si = 3,     // m/sec^2, m/sec, mm
};

struct UnitTable {
    const char* name;            // as the command line, Python and summary.json name it
    const char* accel;           // labels of the reports
    const char* velocity;
    const char* displacement;
    const char* log_displacement;   // the displacement as the trial log and the charts name it
    const char* log_heading;     // the trial log's unit line, its labels in parentheses
    // From the acceleration unit times sec (sec^2) to the velocity
    // (displacement) unit: G to in/sec and in (386), G to m/sec and mm (9.81,
    // 9810), m/sec^2 to m/sec and mm (1, 1000).
    double velocity_factor;
    double displacement_factor;
    double displacement_per_velocity;   // the displacement unit in the velocity unit's length (1 or 1000)
    // Force = moving mass x acceleration x force_per_mass: lb x G = lbf,
    // kg x G x 9.81 = N, kg x m/sec^2 = N.
    double force_per_mass;
    const char* force;
};

inline constexpr UnitTable unit_tables[] = {
    {"english", "G", "in/sec", "inch", "in", "\n           (G)         (in/sec)     (in)       \n", 386.0, 386.0, 1.0, 1.0,
     "lbf"},
    {"metric", "G", "m/sec", "mm", "mm", "\n           (G)         (m/sec)      (mm)       \n", 9.81, 9810.0, 1000.0, 9.81,
     "N"},
    {"si", "m/sec^2", "m/sec", "mm", "mm", "\n           (m/sec^2)   (m/sec)      (mm)       \n", 1.0, 1000.0, 1000.0, 1.0,
     "N"},
};

inline const UnitTable& unit_table(UnitSystem units) {
    return unit_tables[static_cast<int32_t>(units) - 1];
}

// The system of a name: "english", "metric" or "si"; nothing for another.
inline std::optional<UnitSystem> unit_system_named(std::string_view name) {
    for (int32_t k = 0; k < 3; ++k) {
        if (name == unit_tables[k].name) return static_cast<UnitSystem>(k + 1);
    }
    return std::nullopt;
}

}  // namespace quorel
