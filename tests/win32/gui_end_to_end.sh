#!/usr/bin/env bash
# Usage: gui_end_to_end.sh SIM WINE EXE PROBE
# Resolutions through the program's window, as a user does them: read the
# caption and the control texts, press 获取下载地址 with empty boxes, paste
# the file page address, press 刷新验证码, paste a wrong captcha in Chinese,
# type the captcha the demo service drew and read the result box.
# The road runs twice, under a Chinese system code page (zh_CN.UTF-8 gives
# wine ANSI code page 936) and under a Western one (C.UTF-8, code page 1252):
# every text read back through the system's UTF-16 side must be the literal
# Chinese one in both, and the service must receive the same bytes from both.
# Then the keys, the captcha click, pasted links and the clipboard: each key
# and click makes exactly the requests of its button, a link needs none; the
# result box's menu opens by a right click, the Menu key and Shift+F10, and
# copies nothing once a later run has written a failure text.
# Needs an X display (the caller runs it inside xvfb-run), xdotool and xclip.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
sim="$1" wine="$2" exe="$3" probe="$4"
[ -n "${DISPLAY:-}" ] || { echo "gui_end_to_end.sh: no X display, skipped" >&2; exit 77; }
command -v xdotool >/dev/null || { echo "gui_end_to_end.sh: xdotool is missing" >&2; exit 1; }
command -v xclip >/dev/null || { echo "gui_end_to_end.sh: xclip is missing" >&2; exit 1; }

work="$(mktemp -d)"
app_pid="" clip_pids=()
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  for pid in "${clip_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  sim_stop
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The system locale of the road being run; the script's own tools work on bytes.
locale=""
export LC_ALL=C

fail() {
  echo "gui_end_to_end.sh: [$locale] $*" >&2
  exit 1
}

code=k7Q2
sim_start "$sim" --port 0 --test-mode --fixed-code "$code" || fail "the demo service printed no address"
base="$sim_origin"
port="${base##*:}"

# The body of a GET to the service, through bash's own TCP client.
get() {
  local response
  exec 3<>"/dev/tcp/127.0.0.1/$port"
  printf 'GET %s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' "$1" >&3
  response="$(cat <&3)"
  exec 3<&-
  case "$response" in "HTTP/1.1 200"* | "HTTP/1.0 200"*) ;; *) return 1 ;; esac
  printf '%s' "${response#*$'\r\n\r\n'}"
}

# Waits until the service has answered COUNT requests for PATH.
answered() { [ "$(get /__test/log | grep -c "\"request_line\":\"[A-Z]* $1" || true)" -ge "$2" ]; }
await_requests() { retry 100 0.2 answered "$1" "$2" || fail "the service saw fewer than $2 requests for $1"; }

probe() { LC_ALL="$locale" "$wine" "$probe" "$@" 2>/dev/null | tr -d '\r'; }

expect() {
  local what="$1" shown="$2" wanted="$3"
  [ "$shown" = "$wanted" ] || fail "$what reads '$shown', not '$wanted'"
}

click() {
  local x y
  read -r x y < <(probe center "$1") || fail "no control $1"
  xdotool mousemove --sync "$x" "$y" click 1
  sleep 0.3
}

# A result is shown and the button is back.
resolved() { [ -n "$(probe text EditBox2)" ] && [ "$(probe enabled Button1)" = 1 ]; }

# Types over the box's text on the keyboard.
type_into() {
  click "$1"
  xdotool key --delay 30 End $(printf 'BackSpace %.0s' $(seq 12))
  xdotool type --delay 30 "$2"
  retry 20 0.2 shows "$1" "$2" || fail "$1 shows '$(probe text "$1")' after typing '$2'"
}
shows() { [ "$(probe text "$1")" = "$2" ]; }

# Pastes over the box's text from the clipboard, as Unicode text.
paste_into() {
  probe paste "$1" "$(printf '%s' "$2" | od -An -tx1 | tr -d ' \n')" || fail "cannot paste into $1"
  expect "$1 after pasting" "$(probe text "$1")" "$2"
}

# Starts the program against the service and waits for its window.
launch() {
  LC_ALL="$locale" SORREL_SERVICE_ORIGIN="$base" "$wine" "$exe" &
  app_pid=$!
  LC_ALL="$locale" "$wine" "$probe" wait 60 || fail "the main window did not appear"
}

ended() { ! kill -0 "$app_pid" 2>/dev/null; }
# Closes the window; the program must end. Sets app_status.
close_app() {
  probe close
  retry 100 0.1 ended || fail "the program did not end after its window closed"
  app_status=0
  wait "$app_pid" || app_status=$?
  app_pid=""
}

expect_notice() {
  expect "the notice" "$(probe notice)" "$1"
  probe notice-ok || fail "the notice '$1' did not close"
}

road() {
  locale="$1"
  launch

  expect "the caption" "$(probe text Main)" \
    "Sorrel网盘下载地址解析工具【Orrinwood专版   www.sorrel-resolver.example】"
  local example="    $base/file/83264445"
  for pair in "Label1=地址：" "Label2=验证码：" "Label3=请输入左边的验证码" \
    "Label5=sorrel-resolver 1.0 · 仅供学习交流" "Button1=获取下载地址" "Button2=刷新验证码" \
    "Label4=地址示例：

$example

$example

    *目前Sorrel网盘的下载格式基本统一了，输入上面类型的地址基本不会出错."; do
    expect "${pair%%=*}" "$(probe text "${pair%%=*}")" "${pair#*=}"
  done

  click Button1
  expect_notice $'信息：\n地址或验证码不得为空'

  paste_into EditBox1 "$base/file/83264445"
  local pictures
  pictures="$(get /__test/log | grep -c '"request_line":"GET /randcodeV2' || true)"
  click Button2
  await_requests /randcodeV2 $((pictures + 1))
  # The captcha request is answered before the picture is converted and shown.
  sleep 1

  paste_into EditBox3 "验证"
  click Button1
  expect_notice $'信息：\n验证码输入错误，请重新输入。'
  await_requests /randcodeV2 $((pictures + 2))
  sleep 1
  type_into EditBox3 "$code"
  click Button1

  retry 150 0.2 resolved || true
  local result link
  result="$(probe text EditBox2)"
  link="$(sed -n '3p' <<<"$result")"
  case "$link" in "$base/dl/"*) ;; *) fail "the result box shows no download address: $result" ;; esac
  for part in $'普通下载地址：\n\n'"$link"$'\n\n迅雷下载地址：\n\nthunder://' \
    $'\n\n快车下载地址：\n\nflashget://'; do
    case "$result" in *"$part"*) ;; *) fail "the result box lacks '$part': $result" ;; esac
  done
  expect "the copied result" "$(probe copy EditBox2)" "$result"
  expect "Button1 afterwards" "$(probe text Button1)" "获取下载地址"

  close_app
  [ "$app_status" -eq 0 ] || fail "the program ended with status $app_status"

  # What the service received, byte for byte, with the session it handed
  # out in place of its cookie's value.
  get '/__test/log?clear=1' | sed -n 's/.*"raw_base64":"\([^"]*\)".*/\1/p' |
    while read -r raw; do base64 -d <<<"$raw"; done |
    sed 's/sorrel_sid=[0-9a-zA-Z]*/sorrel_sid=SESSION/g' >"$work/requests.$1"
  grep -qF "randcode=$(printf '\xd1\xe9\xd6\xa4')&Comfirm=yes" "$work/requests.$1" ||
    fail "the wrong captcha did not go out in code page 936"
  echo "gui_end_to_end.sh: [$1] resolved $base/file/83264445 to $link"
}

get '/__test/log?clear=1' >/dev/null
road zh_CN.UTF-8
road C.UTF-8
cmp "$work/requests.zh_CN.UTF-8" "$work/requests.C.UTF-8" ||
  fail "the service received other bytes under the Western code page"
echo "gui_end_to_end.sh: $(grep -c '^[A-Z]* /' "$work/requests.C.UTF-8") requests alike under both code pages"

# The request lines the service logged, the captcha's random number masked.
requests() {
  get /__test/log | sed -n 's/.*"request_line":"\([^"]*\)".*/\1/p' |
    sed -E '/^GET \/file\//!s/[0-9]+ HTTP/# HTTP/'
}
# The requests after the first N, once there are WANTED of them.
requests_after() {
  retry 50 0.2 more_requests "$1" "$2" || true
  sleep 0.5
  requests | tail -n +$(($1 + 1))
}
more_requests() { [ "$(requests | tail -n +$(($1 + 1)) | grep -c .)" -ge "$2" ]; }
count() { requests | grep -c . || true; }
# A captcha refresh: the file page at PATH, then the picture.
expect_refresh() {
  local what="$1" seen="$2" path="$3"
  expect "the first request of $what" "$(sed -n 1p <<<"$seen")" "GET $path HTTP/1.1"
  case "$(sed -n 2p <<<"$seen")" in "GET /randcodeV2.php"*) ;; *) fail "$what fetched no captcha: $seen" ;; esac
  expect "the requests of $what" "$(grep -c . <<<"$seen")" 2
}
# Puts TEXT on the X clipboard, as another program would.
clip() {
  printf '%s' "$1" >"$work/clip"
  xclip -quiet -selection clipboard -i "$work/clip" >/dev/null 2>&1 &
  clip_pids+=($!)
  sleep 1
}
# The file page taken from the clipboard after the first N requests, with QUERY.
expect_page_taken() {
  expect_refresh "the clipboard" "$(requests_after "$1" 2)" "/file/83264445$2"
  expect "the address from the clipboard" "$(probe text EditBox1)" "$base/file/83264445$2"
}
# TEXT copied elsewhere, while the window is not active.
copy_elsewhere() {
  probe deactivate
  clip "$1"
  probe activate
}
# TEXT pasted over the address box by keys.
paste_keys() {
  clip "$1"
  click EditBox1
  xdotool key ctrl+a ctrl+v
}

# Chooses item N of the result box's menu, opened by a right click, with keys.
menu_item() {
  local x y
  read -r x y < <(probe center EditBox2) || fail "no control EditBox2"
  xdotool mousemove --sync "$x" "$y" click 3
  sleep 0.5
  # shellcheck disable=SC2046
  xdotool key $(printf 'Down %.0s' $(seq "$1")) Return
  sleep 0.5
}
failure_shown() { case "$(probe text EditBox2)" in "如果您输入的网址没有出错"*) ;; *) return 1 ;; esac; }

hands() {
  locale=zh_CN.UTF-8
  local page="$base/file/83264445" n by_button decoded decoded_normal copies
  decoded_normal="http://dl.example/f/a.zip"
  decoded=$'普通下载地址：\n\nhttp://dl.example/f/a.zip\n\n'
  decoded+=$'迅雷下载地址：\n\nthunder://QUFodHRwOi8vZGwuZXhhbXBsZS9mL2EuemlwWlo=\n\n'
  decoded+=$'快车下载地址：\n\nflashget://W0ZMQVNIR0VUXWh0dHA6Ly9kbC5leGFtcGxlL2YvYS56aXBbRkxBU0hHRVRd&sorrel'
  get '/__test/log?clear=1' >/dev/null

  # A file page on the clipboard at start: the address box takes it and the
  # captcha comes once.
  clip "$page"
  launch
  expect_page_taken 0 ""
  expect "the focus after a captcha" "$(probe focus)" EditBox3

  n="$(count)"
  click Button2
  by_button="$(requests_after "$n" 2)"
  for how in Enter F5 picture; do
    type_into EditBox3 "abc"
    n="$(count)"
    case "$how" in
      Enter) click EditBox1 && xdotool key Return ;;
      F5) xdotool key F5 ;;
      picture) click PicBox1 ;;
    esac
    expect "the requests of $how" "$(requests_after "$n" 2)" "$by_button"
    expect "the captcha box after $how" "$(probe text EditBox3)" ""
    expect "the focus after $how" "$(probe focus)" EditBox3
  done

  # The resolution, by the button and by Enter in the captcha box, each on a
  # captcha of its own: the service takes each captcha once.
  for how in button Enter; do
    n="$(count)"
    click Button2
    requests_after "$n" 2 >/dev/null
    type_into EditBox3 "$code"
    n="$(count)"
    if [ "$how" = button ]; then
      click Button1
      by_button="$(requests_after "$n" 2)"
    else
      xdotool key Return
      expect "the requests of Enter in the captcha box" "$(requests_after "$n" 2)" "$by_button"
    fi
  done
  expect "the focus after a resolution" "$(probe focus)" EditBox3
  case "$(probe text EditBox2)" in $'普通下载地址：\n\n'"$base/dl/"*) ;; *) fail "Enter gave no addresses" ;; esac

  # Tab follows the road.
  click EditBox1
  for control in Button2 EditBox3 Button1 EditBox2; do
    xdotool key Tab
    sleep 0.3
    expect "the focus after Tab" "$(probe focus)" "$control"
  done

  # A pasted link shows its addresses with no request; a broken one, a notice.
  n="$(count)"
  paste_keys "thunder://QUFodHRwOi8vZGwuZXhhbXBsZS9mL2EuemlwWlo="
  sleep 1
  expect "the pasted link's result" "$(probe text EditBox2)" "$decoded"
  paste_keys "thunder://QUF!!"
  expect_notice $'信息：\n无法识别的链接：链接里的 Base64 编码有误。'
  expect "the result after a broken link" "$(probe text EditBox2)" "$decoded"
  expect "the requests of the pastes" "$(requests_after "$n" 0)" ""

  # The result box's menu copies each address of the link shown.
  copies=("$decoded_normal" "thunder://QUFodHRwOi8vZGwuZXhhbXBsZS9mL2EuemlwWlo="
    "flashget://$(printf '[FLASHGET]%s[FLASHGET]' "$decoded_normal" | base64 -w0)&sorrel")
  for item in 1 2 3; do
    menu_item "$item"
    expect "menu item $item of the result box" "$(xclip -o -selection clipboard)" "${copies[$((item - 1))]}"
  done
  # The Menu key and Shift+F10 in the result box open the same menu, not the
  # edit control's own.
  for keys in Menu shift+F10; do
    clip "before"
    click EditBox2
    xdotool key "$keys"
    sleep 0.5
    xdotool key Down Return
    sleep 0.5
    expect "the first item after $keys" "$(xclip -o -selection clipboard)" "$decoded_normal"
  done

  # The clipboard once: a page copied elsewhere is taken, and only once; what
  # was copied while the window was active is not; a link is decoded.
  copy_elsewhere "$page?from=elsewhere"
  expect_page_taken "$n" "?from=elsewhere"
  n="$(count)"
  probe deactivate
  probe activate
  clip "$page?from=inside"
  probe deactivate
  probe activate
  expect "the requests of known clipboards" "$(requests_after "$n" 0)" ""
  expect "the address" "$(probe text EditBox1)" "$page?from=elsewhere"
  copy_elsewhere "qqdl://aHR0cDovL2RsLmV4YW1wbGUvZi9hLnppcA=="
  sleep 1
  expect "the result of a link from the clipboard" "$(probe text EditBox2)" "$decoded"
  expect "the requests of a link" "$(requests_after "$n" 0)" ""

  # A later run that writes a failure text into the result box: the copy
  # items are greyed and copy nothing, whatever the addresses kept.
  for fault in "redirect:/file/40400404" "redirect://127.0.0.1:1/gone"; do
    paste_into EditBox1 "$page"
    n="$(count)"
    click Button2
    requests_after "$n" 2 >/dev/null
    sleep 1
    get "/__test/fault?path=/guest_loginV2.php&times=1&set=$fault" >/dev/null || fail "no fault $fault"
    type_into EditBox3 "$code"
    click Button1
    retry 100 0.2 failure_shown || fail "no failure text after $fault: $(probe text EditBox2)"
    clip "untouched"
    for item in 1 2 3; do
      menu_item "$item"
      xdotool key Escape
      expect "menu item $item after $fault" "$(xclip -o -selection clipboard)" "untouched"
    done
  done

  close_app
  echo "gui_end_to_end.sh: keys, picture, paste and clipboard make the requests of their buttons"
}

# A dense screen (192 dots per inch): the layout doubles and the captcha is
# drawn in whole 2-by-2 blocks. The prefix goes back to 96 afterwards.
dense() {
  locale=zh_CN.UTF-8
  local n
  "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 192 /f >/dev/null 2>&1
  launch
  expect "EditBox1 at 192 dpi" "$(probe size EditBox1)" "768 64"
  expect "PicBox1 at 192 dpi" "$(probe size PicBox1)" "400 210"
  paste_into EditBox1 "$base/file/83264445"
  n="$(count)"
  click Button2
  requests_after "$n" 2 >/dev/null
  sleep 1
  read -r mixed colours < <(probe blocks PicBox1 2)
  [ "${mixed:-1}" -eq 0 ] || fail "$mixed blocks of the captcha are blurred"
  [ "${colours:-0}" -gt 2 ] || fail "the picture box shows no captcha"
  close_app
  "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
  echo "gui_end_to_end.sh: at 192 dpi the layout doubles and the captcha stays sharp"
}

hands
dense
