#!/usr/bin/env python3
"""A TCP forwarder on loopback that counts the bytes each session carries.

    counting_forwarder.py TARGET_PORT PORT_FILE LOG_FILE

Listens on a free port of 127.0.0.1 (written to PORT_FILE once it listens) and
forwards every connection to 127.0.0.1:TARGET_PORT. When a session ends it appends
"<bytes from the server> <bytes to the server>" as a line to LOG_FILE. Runs until
it is sent SIGTERM.
"""
import os
import socket
import sys
import threading


def pump(source, sink, counter, index):
    try:
        while True:
            chunk = source.recv(65536)
            if not chunk:
                break
            counter[index] += len(chunk)
            sink.sendall(chunk)
    except OSError:
        pass
    finally:
        try:
            sink.shutdown(socket.SHUT_WR)
        except OSError:
            pass


def serve(client, target_port, log_file):
    server = socket.create_connection(("127.0.0.1", target_port))
    counter = [0, 0]  # from the server, to the server
    down = threading.Thread(target=pump, args=(server, client, counter, 0))
    down.start()
    pump(client, server, counter, 1)
    down.join()
    client.close()
    server.close()
    with open(log_file, "a") as log:
        log.write("%d %d\n" % (counter[0], counter[1]))


def main():
    target_port, port_file, log_file = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    with open(port_file + ".tmp", "w") as f:
        f.write("%d\n" % listener.getsockname()[1])
    os.rename(port_file + ".tmp", port_file)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(client, target_port, log_file), daemon=True).start()


if __name__ == "__main__":
    main()
