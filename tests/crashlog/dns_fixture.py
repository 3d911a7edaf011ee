# DNS server for the mail-exchanger tests (Debian's /usr/bin/python3 with python3-dnslib).
# Usage: dns_fixture.py PORT LOGFILE [DOMAIN PREFERENCE EXCHANGE]...
# Answers MX questions for the given domains on 127.0.0.1:PORT over UDP, NXDOMAIN for
# any other name, and logs every question as "<name> <type>". A TCP listener on the same
# port tells the test harness that it is ready; it takes connections and never answers.
import socket, sys
from dnslib import DNSRecord, RR, QTYPE, MX, RCODE

port, log = int(sys.argv[1]), sys.argv[2]
rest = sys.argv[3:]
records = [(rest[i].lower(), int(rest[i + 1]), rest[i + 2]) for i in range(0, len(rest), 3)]
udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
udp.bind(("127.0.0.1", port))
ready = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
ready.bind(("127.0.0.1", port))
ready.listen(64)
print("ready", port, flush=True)
while True:
    data, peer = udp.recvfrom(65535)
    query = DNSRecord.parse(data)
    name = str(query.q.qname).rstrip(".").lower()
    with open(log, "a") as f:
        f.write(f"{name} {QTYPE[query.q.qtype]}\n")
    reply = query.reply()
    found = [r for r in records if r[0] == name]
    for domain, preference, exchange in found:
        if query.q.qtype == QTYPE.MX:
            reply.add_answer(RR(domain, QTYPE.MX, ttl=60, rdata=MX(exchange, preference)))
    if not found:
        reply.header.rcode = RCODE.NXDOMAIN
    udp.sendto(reply.pack(), peer)
