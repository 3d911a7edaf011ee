# Splits a stored message with Python's email package: writes every leaf part's
# decoded payload to OUTDIR/<n>.bin and prints one line per part:
# "<n> TAB <content-type> TAB <filename or -> TAB <charset or ->", then the header values asked for
# as "H <name>: <value>" lines. Usage: mail_parts.py MESSAGE OUTDIR [HEADER ...]
import email, email.policy, os, sys

msg = email.message_from_binary_file(open(sys.argv[1], "rb"), policy=email.policy.compat32)
out = sys.argv[2]
os.makedirs(out, exist_ok=True)
n = 0
for part in msg.walk():
    if part.is_multipart():
        continue
    payload = part.get_payload(decode=True) or b""
    with open(os.path.join(out, f"{n}.bin"), "wb") as f:
        f.write(payload)
    print(n, part.get_content_type(), part.get_filename() or "-", part.get_content_charset() or "-",
          sep="\t")
    n += 1
for name in sys.argv[3:]:
    for v in msg.get_all(name) or []:
        print("H", name + ":", " ".join(str(v).split()))
