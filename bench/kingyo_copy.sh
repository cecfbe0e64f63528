# Sourced by the benchmarks that run kingyo. kingyo_copy DIR BINARY puts a copy of the
# program in DIR with complete settings (a loopback server that is never asked, an
# account, the hang-up option off), so that no settings dialog opens at start-up and
# the build's own settings stay untouched. Start the copy from DIR: the server file is
# read from the current folder.
kingyo_copy() {
  local dir=$1 binary=$2
  mkdir -p "$dir"
  mkdir -m 0700 "$dir/★MailData"
  cp "$binary" "$dir/kingyo"
  printf 'SMTP=\r\nPOP3=127.0.0.1:9\r\nMAIL=\r\nAPOP=0\r\n' >"$dir/vbmail.ini"
  printf '[EXEINI]\r\nNAME=fish\r\nNAME2=bowl\r\nNAME3=1\r\n' >"$dir/★MailData/iniIdPass.ini"
  printf '[EXEINI]\r\nNUMBER=0\r\n' >"$dir/★MailData/ini.ini"
}
