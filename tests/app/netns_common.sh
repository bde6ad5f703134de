# Shared by the network-loss test and its full-length measurement (sourced, not run): the program
# in a network namespace of its own, joined to this one by a veth pair whose host end carries the
# page servers, and the means to take the namespace's network away the way a laptop loses it.
# Needs root. Sets ns, host_if, ns_if, net (the first three bytes of the addresses), port, work.

# netns_setup SERVERS: the namespace, the pair, SERVERS addresses on the host end (net.1 ...)
# with a page server on each, and a copy of the program with its own folders in $work.
# Returns 77 (skip) where network namespaces cannot be made.
netns_setup() {
  local servers=$1 i
  [ "$(id -u)" = 0 ] || { echo "SKIP: network namespaces need root"; return 77; }
  command -v ip >/dev/null || { echo "SKIP: ip (iproute2) is missing"; return 77; }
  ns=vnw$$ host_if=vh$$ ns_if=vn$$ net=10.213.$(( $$ % 250 ))
  ip netns add "$ns" 2>/dev/null || { echo "SKIP: ip netns add failed here"; return 77; }
  ip link add "$host_if" type veth peer name "$ns_if"
  ip link set "$ns_if" netns "$ns"
  for (( i = 1; i <= servers; i++ )); do ip addr add "$net.$i/24" dev "$host_if"; done
  ip netns exec "$ns" ip link set lo up
  netns_restore
  # The pair's carrier comes a moment after both ends are up; until then the route is "linkdown".
  for (( i = 0; i < 50; i++ )); do
    ip netns exec "$ns" ip route | grep -q linkdown || break
    sleep 0.1
  done
  port=$(( 20000 + RANDOM % 20000 ))
  work=$(mktemp -d)
  mkdir -p -m 0700 "$work/run" "$work/home"
  cp "$exe" "$work/vantrel"
  local addresses=()
  for (( i = 1; i <= servers; i++ )); do addresses+=("$net.$i"); done
  coproc SERVERS { exec python3 "$here/page_servers.py" "$port" "${addresses[@]}"; }
  server_pid=$SERVERS_PID
  local ready
  read -r -t 20 ready <&"${SERVERS[0]}" && [ "$ready" = ready ]
}

# Ends everything netns_setup started. With NETNS_KEEP naming a folder, the program's output and
# its history are copied there first.
netns_cleanup() {
  [ -n "${NETNS_KEEP:-}" ] && [ -n "${work:-}" ] && cp "$work/program.log" "$work"/history.db* "$NETNS_KEEP" 2>/dev/null
  [ -n "${program_pid:-}" ] && { kill -CONT "$program_pid"; kill -KILL "$program_pid"; } 2>/dev/null || true
  [ -n "${server_pid:-}" ] && kill "$server_pid" 2>/dev/null || true
  [ -n "${ns:-}" ] && ip netns del "$ns" 2>/dev/null || true
  [ -n "${host_if:-}" ] && ip link del "$host_if" 2>/dev/null || true
  [ -n "${work:-}" ] && rm -rf "$work"
}

# Wi-Fi gone: no address and no route, so every connect fails at once ("network unreachable").
netns_no_route() {
  ip netns exec "$ns" ip addr flush dev "$ns_if"
  ip netns exec "$ns" ip link set "$ns_if" down
}
# Packets dropped: the far end of the link goes down, so the namespace keeps its address and its
# route (marked "linkdown") while nothing answers and every connect times out. (Setting the near
# end down removes its route, which is the no-route case again.)
netns_drop_packets() {
  ip link set "$host_if" down
}
netns_restore() {
  ip link set "$host_if" up
  ip netns exec "$ns" ip link set "$ns_if" up
  ip netns exec "$ns" ip addr replace "$net.100/24" dev "$ns_if"
}

# Local wall-clock seconds counted as if UTC: the program's check stamp of "now".
netns_now_stamp() {
  local z sign off
  z=$(date +%z); sign=${z:0:1}
  off=$(( 10#${z:1:2} * 3600 + 10#${z:3:2} * 60 ))
  [ "$sign" = - ] && off=$(( -off ))
  echo $(( $(date +%s) + off ))
}

# netns_write_list PAGES SERVERS DUE_IN [SPREAD]: PAGES one-minute pages ("Page N", online, on
# server 1 + (N - 1) % SERVERS) falling due DUE_IN seconds from now, spread over SPREAD seconds
# (0 by default), and "Refused" on a port where no server listens, due at once.
netns_write_list() {
  local pages=$1 servers=$2 due_in=$3 spread=${4:-0}
  awk -v n="$pages" -v s="$servers" -v net="$net" -v port="$port" -v spread="$spread" \
      -v first=$(( $(netns_now_stamp) - 60 + due_in )) 'BEGIN {
    printf "[main]\r\ncount=%d\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n", n + 1
    for (i = 1; i <= n; i++) {
      printf "[web%d]\r\ncaption=Page %d\r\nstatus=0\r\nitem1=http://%s.%d:%d/page%d\r\n", i, i, net, 1 + (i - 1) % s, port, i
      printf "item2=0\r\nitem3=%d\r\nitem4=\r\n", first + int((i - 1) * spread / n)
    }
    printf "[web%d]\r\ncaption=Refused\r\nstatus=0\r\nitem1=http://%s.1:%d/refused\r\nitem2=0\r\nitem3=\r\nitem4=\r\n", n + 1, net, port + 1
  }' > "$work/webpages.dat"
}

# Starts the copy inside the namespace, hidden in the notification area; sets program_pid.
netns_start() {
  ip netns exec "$ns" env -u DBUS_SESSION_BUS_ADDRESS HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
    XDG_RUNTIME_DIR="$work/run" DISPLAY="$DISPLAY" "$work/vantrel" -s >"$work/program.log" 2>&1 &
  program_pid=$!
}

# The status listing: label TAB status TAB time TAB result per line, and TAB "Waiting for the
# network" for a page the program puts off. Asked inside the namespace, where the program's command
# channel is (an abstract socket belongs to its network namespace).
netns_status() {
  ip netns exec "$ns" env HOME="$work/home" XDG_RUNTIME_DIR="$work/run" "$work/vantrel" --status 2>/dev/null
}

# netns_offline_watched LISTING: how many pages other than "Refused" it shows Offline.
netns_offline_watched() {
  awk -F'\t' '$1 != "Refused" && $2 == "Offline"' <<<"$1" | wc -l
}

# netns_waiting_watched LISTING: how many pages other than "Refused" it shows waiting for the
# network.
netns_waiting_watched() {
  awk -F'\t' '$1 != "Refused" && $5 == "Waiting for the network"' <<<"$1" | wc -l
}

# netns_unchecked_since LISTING EPOCH: how many pages other than "Refused" were last checked
# before EPOCH (or never).
netns_unchecked_since() {
  local listing=$1 since=$2 count=0 label status time rest t
  while IFS=$'\t' read -r label status time rest; do
    [ "$label" = Refused ] && continue
    t=0
    [ "$time" != - ] && t=$(date -d "$time" +%s)
    (( t < since )) && count=$(( count + 1 ))
  done <<<"$listing"
  echo "$count"
}
