# Writes the source that holds libvelkor_tq's build time (cmake -DOUTPUT=FILE
# -P build_stamp.cmake). Runs at build time; SOURCE_DATE_EPOCH, when set,
# fixes the stamp for reproducible builds.
string(TIMESTAMP stamp "%a %b %d %H:%M:%S %Y")
file(WRITE ${OUTPUT} "namespace VELKOR {\nextern const char kBuildTimestamp[];\nconst char kBuildTimestamp[] = \"${stamp}\";\n}  // namespace VELKOR\n")
