#!/usr/bin/env bash
# No include climbs out of its folder: a "../" path would reach a floor above the
# includer's (mail into panel, say) and compile and link all the same, so the layers
# hold only if every include names "floor/file.h" or a file beside the includer.
#   include_paths_test.sh SOURCE_DIR
# Lists each offending line as FILE:LINE:TEXT and exits 1 if there is any.
set -uo pipefail
source_dir=${1:?usage: $0 path/to/the/source/tree}

cd "$source_dir" || exit 2
for tree in src tests bench; do
    [ -d "$tree" ] || { echo "no $tree folder in $source_dir"; exit 2; }
done

# A ".." segment: at the start of the path or after a slash, before a slash or the end.
offenders=$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^>"]*/)?\.\.(/|[>"])' \
    --include='*.c' --include='*.cc' --include='*.cpp' --include='*.cxx' \
    --include='*.h' --include='*.hh' --include='*.hpp' --include='*.hxx' --include='*.inl' \
    src tests bench)
status=$?
if [ "$status" -gt 1 ]; then
    echo "grep failed (exit $status)"
    exit 2
fi
if [ -n "$offenders" ]; then
    echo "includes that climb out of their folder (write \"floor/file.h\"):"
    echo "$offenders"
    exit 1
fi
echo "ok - no include climbs out of its folder"
