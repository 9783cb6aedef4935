"""A scripted FTPS server that misbehaves in one way, for the client's tests.

Usage: hostile-ftps.py MODE CERT_DIR ROOT PORT_FILE LOG_FILE
Modes:
  auth-refused        AUTH TLS answered 504
  plain-after-234     234, then plain text in the same packet
  plain-after-234-late 234, then plain text a moment later
  prot-refused        TLS, log-in, PBSZ 200, PROT P answered 534
  data-cert-differs   the data connection presents another certificate
  cut-mid-file        the data connection is cut, without close_notify,
                      after 64 KiB, and the STOR still answered 226
Every command line received is logged as "<- LINE"; a line the client sends
in clear after TLS was agreed is logged as "<- CLEAR LINE".
One connection at a time; serves until killed.
"""
import os
import socket
import ssl
import sys
import time

mode, cert_dir, root, port_file, log_file = sys.argv[1:6]
log = open(log_file, 'a', buffering=1)

# Commands answered the same way in every mode.
PLAIN_ANSWERS = {
    'USER': '331 Password.',
    'PASS': '230 Logged in.',
    'PBSZ': '200 PBSZ=0',
    'TYPE': '200 Type set.',
    'SYST': '215 UNIX Type: L8',
    'CWD': '250 Ok.',
}


def context(name):
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(os.path.join(cert_dir, name + '.pem'), os.path.join(cert_dir, name + '.key'))
    return ctx


good = context('good')
other = context('other')


class Conn:
    def __init__(self, sock):
        self.sock = sock
        self.buf = b''
        self.tls = False

    def send(self, line):
        self.sock.sendall(line.encode() + b'\r\n')

    def line(self):
        while b'\n' not in self.buf:
            chunk = self.sock.recv(4096)
            if not chunk:
                return None
            self.buf += chunk
        line, self.buf = self.buf.split(b'\n', 1)
        return line.rstrip(b'\r').decode('latin-1')


def serve(sock):
    c = Conn(sock)
    c.send('220 hostile ftps')
    pasv = None
    while True:
        try:
            line = c.line()
        except (ssl.SSLError, OSError):
            log.write('-- connection failed\n')
            return
        if line is None:
            return
        log.write('<- ' + line + '\n')
        cmd = line.split(' ', 1)[0].upper()
        if cmd == 'AUTH':
            if mode == 'auth-refused':
                c.send('504 AUTH TLS not available.')
                continue
            if mode == 'plain-after-234':
                c.sock.sendall(b'234 Proceed.\r\n220 plain text, not TLS\r\n')
            elif mode == 'plain-after-234-late':
                c.send('234 Proceed.')
                time.sleep(0.2)
                c.send('220 plain text, not TLS')
            else:
                c.send('234 Proceed.')
                c.sock = good.wrap_socket(c.sock, server_side=True)
                c.tls = True
                continue
            # Whatever comes now in clear (a ClientHello, or a command).
            c.sock.settimeout(5)
            try:
                data = c.sock.recv(65536)
                if data.startswith(b'USER') or data.startswith(b'PASS'):
                    log.write('<- CLEAR ' + data.decode('latin-1').strip() + '\n')
            except OSError:
                pass
            return
        elif cmd == 'PROT':
            c.send('534 PROT P refused.' if mode == 'prot-refused' else '200 Protection level set to P')
        elif cmd in PLAIN_ANSWERS:
            c.send(PLAIN_ANSWERS[cmd])
        elif cmd == 'PASV':
            pasv = socket.socket()
            pasv.bind(('127.0.0.1', 0))
            pasv.listen(1)
            p = pasv.getsockname()[1]
            c.send('227 Entering Passive Mode (127,0,0,1,%d,%d).' % (p // 256, p % 256))
        elif cmd == 'STOR':
            name = os.path.basename(line[5:])
            data, _ = pasv.accept()
            pasv.close()
            c.send('150 Ok to send data.')
            ctx = other if mode == 'data-cert-differs' else good
            received = 0
            try:
                d = ctx.wrap_socket(data, server_side=True)
                with open(os.path.join(root, name), 'wb') as out:
                    while True:
                        chunk = d.recv(65536)
                        if not chunk:
                            break
                        out.write(chunk)
                        received += len(chunk)
                        if mode == 'cut-mid-file' and received >= 65536:
                            # No close_notify: a reset under the sender.
                            d.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b'\x01\x00\x00\x00\x00\x00\x00\x00')
                            break
                d.close()
            except (ssl.SSLError, OSError) as e:
                log.write('-- data connection failed: %s\n' % e)
                data.close()
            log.write('-- received %d bytes\n' % received)
            c.send('226 Transfer complete.')
        elif cmd == 'SIZE':
            path = os.path.join(root, os.path.basename(line[5:]))
            c.send('213 %d' % os.path.getsize(path) if os.path.exists(path) else '550 No such file.')
        else:
            c.send('502 Not implemented.')


listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(('127.0.0.1', 0))
listener.listen(4)
with open(port_file + '.tmp', 'w') as f:
    f.write(str(listener.getsockname()[1]))
os.rename(port_file + '.tmp', port_file)
while True:
    conn, _ = listener.accept()
    try:
        serve(conn)
    except Exception as e:  # a test server: log and go on with the next client
        log.write('-- error: %r\n' % e)
    finally:
        try:
            conn.close()
        except OSError:
            pass
