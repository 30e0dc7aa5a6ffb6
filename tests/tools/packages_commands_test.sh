#!/usr/bin/env bash
# orvalo-tool unzip, copy and index: one result line, exit status 0 only on success.
# Arguments: the wine-run launcher, orvalo-tool.exe, the folder of the test archives.
set -euo pipefail
run=$1 tool=$2 zips=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
win() { printf 'Z:%s' "${1//\//\\}"; }

expect() {  # expect STATUS LINE COMMAND...
  local status=$1 line=$2 out rc=0
  shift 2
  out=$("$run" "$tool" "$@" 2>"$work/stderr") || rc=$?
  if [ "$rc" != "$status" ] || [ "$out" != "$line" ]; then
    printf 'FAIL: %s\n  got (%s) %s\n  want (%s) %s\n' "$*" "$rc" "$out" "$status" "$line"
    cat "$work/stderr"
    exit 1
  fi
}

target=$(win "$work/解压")
expect 0 "$target\\pkg" unzip "$(win "$zips/one_folder.zip")" "$target"
[ "$(cat "$work/解压/pkg/sub/b.txt")" = beta ]
expect 1 "error: 压缩包条目数据损坏（解压或 CRC 校验失败）：bad.txt" unzip "$(win "$zips/crc.zip")" "$(win "$work/crc")"
expect 1 "error: 无法读取压缩包：$(win "$zips/not_a_zip.zip")" \
  unzip "$(win "$zips/not_a_zip.zip")" "$(win "$work/text")"

expect 0 "ok" copy "$(win "$work/解压/pkg")" "$(win "$work/安装")"
[ "$(cat "$work/安装/sub/b.txt")" = beta ]
expect 1 "error: 源目录不存在：$(win "$work/none")" copy "$(win "$work/none")" "$(win "$work/安装")"
expect 1 "error: usage: copy SRC DST" copy "$(win "$work/none")"

# The index of a package with a folder entry, a database and large entries: the tool's bytes are
# the ones the demo server's own builder writes for the same zip.
cp "$zips/place.zip" "$work/place.zip"
expect 0 "6" index "$(win "$work/place.zip")" "$(win "$work/place.zip.tool")"
python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import make_site; make_site.write_index(sys.argv[2])' \
  "$(dirname "$0")/../../demo/server" "$work/place.zip"
cmp "$work/place.zip.tool" "$work/place.zip.index"
expect 1 "error: 压缩包含非法路径条目：../evil.dll" index "$(win "$zips/unsafe_0.zip")" "$(win "$work/x")"
expect 1 "error: 压缩包条目数据损坏（解压或 CRC 校验失败）：bad.txt" index "$(win "$zips/crc.zip")" "$(win "$work/x")"
expect 1 "error: 无法打开压缩包：$(win "$zips/not_a_zip.zip")" index "$(win "$zips/not_a_zip.zip")" "$(win "$work/x")"
[ ! -e "$work/x" ]
echo ok
