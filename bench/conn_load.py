#!/usr/bin/env python3
"""Many slow or idle connections, and a probing client, for bench/connections.sh.

  conn_load.py hold PORT COUNT MODE [INTERVAL]
      Opens COUNT connections to 127.0.0.1:PORT and keeps them until its
      standard input closes (or SIGTERM). MODE:
        idle   each sends one keep-alive GET /small.bin, reads the whole
               answer, then stays silent
        head   each sends a request head one byte every INTERVAL seconds and
               never ends it (extra header lines without end)
        body   each sends a whole request head with a large Content-Length,
               method $BODY_METHOD (default POST) and path $BODY_PATH
               (default /sink), then one body byte
               every INTERVAL seconds
      Prints "ready N" once all COUNT were opened (idle: answered), then,
      when it ends, one line "stats opened=.. closed_by_server=.. errors=.."
      A connection the server closes is opened again (a slow client would
      do the same), so the load stays at COUNT.

  conn_load.py probe PORT COUNT GAP TIMEOUT
      COUNT sequential GET /small.bin on new connections, GAP seconds
      apart; one line: "probe answered=A total=T median_ms=M max_ms=X
      statuses=..." where answered counts 200s with the whole body
      (a probe that times out counts as not answered, its time as TIMEOUT).

Connections are closed with a reset (SO_LINGER 0) so that tens of thousands
of them do not leave the client's ports in TIME_WAIT.
"""
import errno
import os
import random
import selectors
import signal
import socket
import statistics
import struct
import sys
import time

HOST = '127.0.0.1'
BATCH = 256          # connects in flight at once while opening
LINGER_RESET = struct.pack('ii', 1, 0)


def new_socket(port):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, LINGER_RESET)
    s.setblocking(False)
    err = s.connect_ex((HOST, port))
    if err not in (0, errno.EINPROGRESS):
        s.close()
        raise OSError(err, os.strerror(err))
    return s


class Conn:
    __slots__ = ('sock', 'state', 'out', 'inbuf', 'next_send', 'want')

    def __init__(self, sock):
        self.sock = sock
        self.state = 'connecting'
        self.out = b''
        self.inbuf = b''
        self.next_send = 0.0
        self.want = -1


def answer_complete(buf):
    """Whether buf holds one whole response to a GET (Content-Length framed)."""
    end = buf.find(b'\r\n\r\n')
    if end < 0:
        return False
    length = 0
    for line in buf[:end].split(b'\r\n')[1:]:
        name, _, value = line.partition(b':')
        if name.strip().lower() == b'content-length':
            length = int(value.strip())
    return len(buf) >= end + 4 + length


def hold(port, count, mode, interval):
    body_path = os.environ.get('BODY_PATH', '/sink')
    body_method = os.environ.get('BODY_METHOD', 'POST')
    head_text = (b'GET /small.bin HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: slow\r\n')
    idle_request = b'GET /small.bin HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n'
    body_head = ('%s %s HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/octet-stream\r\n'
                 'Content-Length: 100000000\r\n\r\n' % (body_method, body_path)).encode()
    sel = selectors.DefaultSelector()
    conns = {}
    stats = {'opened': 0, 'closed_by_server': 0, 'errors': 0}
    stop = [False]
    signal.signal(signal.SIGTERM, lambda *_: stop.__setitem__(0, True))
    sel.register(sys.stdin.fileno(), selectors.EVENT_READ, None)

    def open_one():
        try:
            s = new_socket(port)
        except OSError:
            stats['errors'] += 1
            return False
        c = Conn(s)
        conns[s.fileno()] = c
        sel.register(s, selectors.EVENT_WRITE, c)
        stats['opened'] += 1
        return True

    def drop(c, by_server):
        sel.unregister(c.sock)
        del conns[c.sock.fileno()]
        c.sock.close()
        if by_server:
            stats['closed_by_server'] += 1
        else:
            stats['errors'] += 1

    def on_connected(c, now):
        if mode == 'idle':
            c.out = idle_request
            c.state = 'asking'
        elif mode == 'head':
            c.out = b''
            c.want = 0   # index into the head text
            c.state = 'trickle'
            c.next_send = now + random.uniform(0, interval)
        else:   # the head at once; the body trickles after it
            c.out = body_head
            c.state = 'trickle'
            c.next_send = now + random.uniform(0, interval)
        sel.modify(c.sock, selectors.EVENT_READ | (selectors.EVENT_WRITE if c.out else 0), c)

    def next_trickle_byte(c):
        if mode == 'body':
            return b'x'
        if c.want < len(head_text):
            b = head_text[c.want:c.want + 1]
        else:   # the head never ends: one more header line, byte by byte
            pad = b'X-a: b\r\n'
            b = pad[(c.want - len(head_text)) % len(pad):][:1]
        c.want += 1
        return b

    ready_said = False
    open_deadline = time.monotonic() + float(os.environ.get('OPEN_TIMEOUT', '120'))
    last_trickle = 0.0
    while not stop[0]:
        now = time.monotonic()
        in_flight = 0
        if not ready_said or len(conns) < count:
            in_flight = sum(1 for c in conns.values() if c.state in ('connecting', 'connected', 'asking'))
        # Lost connections are opened again, so the load stays at COUNT.
        while len(conns) < count and in_flight < BATCH:
            if not open_one():
                break
            in_flight += 1
        if not ready_said and ((len(conns) == count and in_flight == 0) or now > open_deadline):
            settled = sum(1 for c in conns.values() if c.state in ('idle', 'trickle'))
            print('ready %d' % settled, flush=True)
            ready_said = True
        for key, events in sel.select(timeout=0.05):
            c = key.data
            if c is None:
                if not os.read(sys.stdin.fileno(), 4096):
                    stop[0] = True
                continue
            if c.state == 'connecting':
                err = c.sock.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR)
                if err:
                    drop(c, False)
                    continue
                c.state = 'connected'
                on_connected(c, now)
                continue
            if events & selectors.EVENT_READ:
                try:
                    data = c.sock.recv(65536)
                except (ConnectionError, OSError):
                    data = b''
                if not data:
                    drop(c, True)
                    continue
                if c.state == 'asking':
                    c.inbuf += data
                    if answer_complete(c.inbuf):
                        c.inbuf = b''
                        c.state = 'idle'
                        sel.modify(c.sock, selectors.EVENT_READ, c)
                continue   # a slow client ignores whatever else it is told
            if events & selectors.EVENT_WRITE and c.out:
                try:
                    n = c.sock.send(c.out)
                except (BlockingIOError, InterruptedError):
                    continue
                except OSError:
                    drop(c, True)
                    continue
                c.out = c.out[n:]
                if not c.out:
                    sel.modify(c.sock, selectors.EVENT_READ, c)
        if mode != 'idle' and now - last_trickle >= 0.05:
            last_trickle = now
            for c in list(conns.values()):
                if c.state != 'trickle' or c.out or c.next_send > now:
                    continue
                c.next_send = now + interval
                try:
                    c.sock.send(next_trickle_byte(c))
                except BlockingIOError:
                    pass
                except OSError:
                    drop(c, True)
    print('stats opened=%d closed_by_server=%d errors=%d open_at_end=%d'
          % (stats['opened'], stats['closed_by_server'], stats['errors'], len(conns)), flush=True)
    for c in list(conns.values()):
        c.sock.close()


def probe(port, count, gap, timeout):
    times, statuses, answered = [], {}, 0
    request = b'GET /small.bin HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n'
    for i in range(count):
        start = time.monotonic()
        status = 'timeout'
        try:
            s = socket.create_connection((HOST, port), timeout=timeout)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, LINGER_RESET)
            s.sendall(request)
            buf = b''
            while not answer_complete(buf):
                left = timeout - (time.monotonic() - start)
                if left <= 0:
                    raise socket.timeout()
                s.settimeout(left)
                data = s.recv(65536)
                if not data:
                    break
                buf += data
            status = buf.split(b' ', 2)[1].decode() if buf.startswith(b'HTTP/') else 'no answer'
            if status == '200' and answer_complete(buf):
                answered += 1
            s.close()
        except socket.timeout:
            status = 'timeout'
        except OSError as e:
            status = errno.errorcode.get(e.errno, 'error') if e.errno else 'error'
        elapsed = min(time.monotonic() - start, timeout)
        times.append(elapsed)
        statuses[status] = statuses.get(status, 0) + 1
        if i + 1 < count:
            time.sleep(gap)
    print('probe answered=%d total=%d median_ms=%.2f max_ms=%.2f statuses=%s'
          % (answered, count, statistics.median(times) * 1000, max(times) * 1000,
             ','.join('%s:%d' % kv for kv in sorted(statuses.items()))), flush=True)


def main():
    if len(sys.argv) >= 5 and sys.argv[1] == 'hold':
        hold(int(sys.argv[2]), int(sys.argv[3]), sys.argv[4],
             float(sys.argv[5]) if len(sys.argv) > 5 else 5.0)
    elif len(sys.argv) == 6 and sys.argv[1] == 'probe':
        probe(int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]), float(sys.argv[5]))
    else:
        sys.exit(__doc__)


if __name__ == '__main__':
    main()
