# Sourced by install_test.sh and debian/tests/installed: start_printer
# OCTET DIR starts snmpd on 127.OCTET.x.y:161 (x.y from this shell's id)
# serving two stored colour profiles, with its files in DIR, and waits
# until it answers. Sets printer (the address) and snmpd_pid (stop it).
start_printer() {
  local dir=$2 table=1.3.6.1.4.1.47291.1.1.1.1.6.13.1.1
  printer="127.$1.$(( $$ / 254 % 254 + 1 )).$(( $$ % 254 + 1 ))"
  row() {  # row location "profile name" file class
    local c=".$table" i=".1.$1"
    printf 'override %s.1%s integer %s\noverride %s.2%s integer %s\n' "$c" "$i" "$1" "$c" "$i" "$2"
    printf 'override %s.3%s octet_str "%s"\noverride %s.4%s octet_str "%s"\n' "$c" "$i" "$3" "$c" "$i" "$4"
    printf 'override %s.5%s integer %s\noverride %s.7%s integer 1\n' "$c" "$i" "$5" "$c" "$i"
  }
  {
    echo "agentaddress udp:$printer:161"
    echo "rocommunity public 127.0.0.0/8"
    row 1 4 "Office RGB" OFFICE.ICC 1
    row 2 4 "Press Simulation" PRESS.ICC 3
  } >"$dir/snmpd.conf"
  SNMP_PERSISTENT_DIR="$dir" MIBS= snmpd -f -Lf "$dir/snmpd.log" -C -c "$dir/snmpd.conf" &
  snmpd_pid=$!
  for _ in $(seq 50); do
    snmpget -v 1 -c public -t 0.2 -r 0 "$printer" "$table.1.1.1" >/dev/null 2>&1 && return 0
    kill -0 "$snmpd_pid" 2>/dev/null || { echo "snmpd did not start: $(cat "$dir/snmpd.log")" >&2; return 1; }
    sleep 0.1
  done
  echo "snmpd on $printer does not answer" >&2
  return 1
}
