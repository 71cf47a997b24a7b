#!/usr/bin/env bash
# tools/import-video on generated inputs: a video of 1,001 frames gets four-digit frame names,
# all listed; an import that fails (pictures of two sizes) leaves the folder's earlier import
# as it was, with nothing half-written; an input whose name starts with "-" is imported; linked
# pictures are imported and a dangling link fails.
#
#   import-video-test.sh REPOSITORY      (exit 77: skipped, ffmpeg is not installed)
set -u
import=$1/tools/import-video
. "$(dirname "$0")/../script-util.sh"
require ffmpeg
enter_scratch

ffmpeg -nostdin -loglevel error -f lavfi -i testsrc=size=16x16:rate=25 -frames:v 1001 -c:v ffv1 \
  long.mkv || fail "cannot make the video"
bash "$import" long.mkv out --max-frames 0 >stdout.txt || fail "the long video was not imported"
[ "$(cat stdout.txt)" = "out/long.bmf 1001" ] || fail "printed $(cat stdout.txt)"
[ "$(head -n 1 out/long.bmf)" = "1001 1" ] || fail "the .bmf announces $(head -n 1 out/long.bmf)"
[ "$(sed -n '2p;$p' out/long.bmf | tr '\n' ' ')" = "long0000.ppm long1000.ppm " ] ||
  fail "the .bmf lists $(sed -n '2p;$p' out/long.bmf | tr '\n' ' ')"
[ "$(ls out | grep -c '^long[0-9]\{4\}\.ppm$')" = 1001 ] || fail "not 1001 frames in out/"
cp out/long.bmf long.bmf.before

# Two pictures of one size and one of another, imported over the long video's folder.
mkdir mixed
for picture in a:16x16 b:16x16 c:8x8; do
  ffmpeg -nostdin -loglevel error -f lavfi -i "testsrc=size=${picture#*:}" -frames:v 1 \
    "mixed/${picture%%:*}.ppm" || fail "cannot make a picture"
done
bash "$import" mixed out --name long 2>stderr.txt && fail "pictures of two sizes were imported"
grep -q "frame 2 of 'mixed/c.ppm' is 8 8, not 16 16 like the first frame" stderr.txt ||
  fail "message: $(cat stderr.txt)"
cmp -s out/long.bmf long.bmf.before || fail "the earlier .bmf was changed"
[ "$(ls out | grep -c '^long[0-9]\{4\}\.ppm$')" = 1001 ] || fail "earlier frames were removed"
[ "$(ls -A out | grep -vc '^long')" = 0 ] || fail "left behind: $(ls -A out | grep -v '^long')"

# A folder whose name starts with "-" (the sequence takes its name), then the same pictures
# imported over the long video: two frames replace its 1,001.
mkdir -- -pictures
cp mixed/a.ppm mixed/b.ppm -- -pictures/
bash "$import" -pictures out >/dev/null || fail "a folder whose name starts with - failed"
[ "$(tr '\n' ' ' <out/-pictures.bmf)" = "2 1 -pictures000.ppm -pictures001.ppm " ] ||
  fail "the .bmf is $(tr '\n' ' ' <out/-pictures.bmf)"
bash "$import" -pictures out --name long >/dev/null || fail "the second import failed"
[ "$(tr '\n' ' ' <out/long.bmf)" = "2 1 long000.ppm long001.ppm " ] ||
  fail "the .bmf is $(tr '\n' ' ' <out/long.bmf)"
[ "$(ls -A out | grep -v '^-pictures' | tr '\n' ' ')" = "long.bmf long000.ppm long001.ppm " ] ||
  fail "out/ holds $(ls -A out | tr '\n' ' ')"

# A folder of links to pictures is imported like the pictures; a dangling link fails, named.
mkdir linked
ln -s ../mixed/a.ppm linked/0.ppm
ln -s ../mixed/b.ppm linked/1.ppm
bash "$import" linked out >/dev/null || fail "a folder of links failed"
[ "$(head -n 1 out/linked.bmf)" = "2 1" ] || fail "linked.bmf announces $(head -n 1 out/linked.bmf)"
cmp -s out/linked000.ppm out/long000.ppm || fail "the linked picture was imported differently"
ln -s ../mixed/gone.ppm linked/2.ppm
bash "$import" linked out 2>stderr.txt && fail "a dangling link was imported"
grep -q "cannot decode picture 'linked/2.ppm'" stderr.txt || fail "message: $(cat stderr.txt)"
echo "PASSED"
