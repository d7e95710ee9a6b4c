#!/usr/bin/env bash
# Checks that the includes inside each given source folder go one way: a header and its source
# (X.h, X.cpp) are one module, and no module reaches itself again through the folder's own
# includes ("folder/Y.h"). Where two classes call each other, one of them talks to a small
# interface instead. Prints the modules caught in a circle and fails when there are any.
# Usage: include_graph.sh FOLDER...  (e.g. src/tcp)
set -euo pipefail
status=0
for folder in "$@"; do
    layer=$(basename "$folder")
    # One line per include of the folder's own headers: "module included".
    edges=$(for file in "$folder"/*.h "$folder"/*.cpp; do
        [ -e "$file" ] || continue
        module=$(basename "${file%.*}")
        sed -n "s|^[[:space:]]*#[[:space:]]*include[[:space:]]*\"$layer/\([^\"]*\)\.h\".*|$module \1|p" \
            "$file"
    done | awk '$1 != $2' | sort -u)
    # Takes away, again and again, the modules that include nothing still left; what remains
    # lies on a circle or leads into one.
    left=$(awk '
        { out[$1] = out[$1] " " $2; node[$1]; node[$2] }
        END {
            do {
                removed = 0
                for (n in node) {
                    k = split(out[n], to, " "); blocked = 0
                    for (i = 1; i <= k; i++) if (to[i] in node) { blocked = 1; break }
                    if (!blocked) { delete node[n]; removed = 1 }
                }
            } while (removed)
            for (n in node) print n
        }' <<<"$edges" | sort)
    if [ -n "$left" ]; then
        echo "include circle in $folder among: $(echo $left)"
        awk -v left=" $(echo $left) " 'index(left, " " $1 " ") && index(left, " " $2 " ") {print "  " $1 " -> " $2}' \
            <<<"$edges"
        status=1
    else
        echo "$folder: $(wc -l <<<"$edges") includes, no circle"
    fi
done
exit $status
