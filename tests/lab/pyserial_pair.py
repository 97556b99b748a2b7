"""Both ends of a simulated null-modem pair, opened through the lab's bridge with pyserial:
9600 bit/s 7E1, a line each way."""
import sys
import time

import serial


def open_port(path):
    return serial.Serial(path, baudrate=9600, bytesize=serial.SEVENBITS, parity=serial.PARITY_EVEN,
                         stopbits=serial.STOPBITS_ONE, timeout=5)


def main():
    first = open_port(sys.argv[1])
    second = open_port(sys.argv[2])
    # The bridge applies settings made on a pty at its next turn, within milliseconds.
    time.sleep(0.3)
    first.write(b"ping from pyserial\n")
    first.flush()
    got = second.readline()
    if got != b"ping from pyserial\n":
        print("second end read", repr(got))
        return 1
    second.write(b"pong\n")
    second.flush()
    got = first.readline()
    if got != b"pong\n":
        print("first end read", repr(got))
        return 1
    print("exchanged")
    return 0


if __name__ == "__main__":
    sys.exit(main())
