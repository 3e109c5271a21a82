// Replaced by the plot program's sources.
namespace quorel {}
