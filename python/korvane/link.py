"""The byte links to an amplifier: TCP (the amplifier's port 2101, or korvane-agent) and
serial ports (9600 baud, 8N1, no flow control), named by an address such as
``tcp://192.0.2.10:2101`` or ``serial:///dev/ttyACM0``."""
import socket
import time
from urllib.parse import urlsplit

from .errors import LinkError

DEFAULT_PORT = 2101
BAUD = 9600


def parse_address(address):
    """("tcp", host, port) or ("serial", path, None) for an address; LinkError for one that
    names neither."""
    parts = urlsplit(address) if isinstance(address, str) else None
    if parts and parts.scheme == "tcp" and parts.hostname and not parts.path.strip("/"):
        try:
            return "tcp", parts.hostname, parts.port or DEFAULT_PORT
        except ValueError:
            pass
    if parts and parts.scheme == "serial" and parts.path and not parts.netloc:
        return "serial", parts.path, None
    raise LinkError(f"cannot use the address '{address}': give tcp://HOST[:PORT] or "
                    f"serial:///PATH")


class TcpLink:
    """A TCP connection; ``read()`` waits at most until a deadline."""

    def __init__(self, host, port, timeout):
        self.name = f"{host}:{port}"
        try:
            self._socket = socket.create_connection((host, port), timeout=timeout)
        except OSError as error:
            raise LinkError(f"cannot connect to {self.name}: {error.strerror or error}") \
                from error
        self._socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def discard(self):
        """Drops whatever has arrived and not been read."""
        self._socket.setblocking(False)
        try:
            while True:
                if not self._socket.recv(4096):
                    raise LinkError(f"link to {self.name} lost: the amplifier closed it")
        except (BlockingIOError, InterruptedError):
            pass
        except OSError as error:
            raise LinkError(f"link to {self.name} lost: {error.strerror or error}") from error

    def write(self, data):
        """Sends all of data."""
        try:
            self._socket.settimeout(5)
            self._socket.sendall(data)
        except OSError as error:
            raise LinkError(f"link to {self.name} lost: {error.strerror or error}") from error

    def read(self, deadline):
        """Bytes that arrive before the deadline (time.monotonic()); b"" if none did."""
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            return b""
        self._socket.settimeout(remaining)
        try:
            data = self._socket.recv(4096)
        except socket.timeout:
            return b""
        except OSError as error:
            raise LinkError(f"link to {self.name} lost: {error.strerror or error}") from error
        if not data:
            raise LinkError(f"link to {self.name} lost: the amplifier closed it")
        return data

    def close(self):
        """Closes the connection."""
        self._socket.close()


class SerialLink:
    """A serial port or pseudo-terminal through pyserial (Debian's python3-serial)."""

    def __init__(self, path, timeout):
        self.name = path
        try:
            import serial
        except ImportError as error:
            raise LinkError("serial ports need pyserial (Debian package python3-serial)") \
                from error
        self._error = serial.SerialException
        try:
            self._port = serial.Serial(path, BAUD, bytesize=8, parity="N", stopbits=1,
                                       timeout=timeout, write_timeout=5, exclusive=True)
        except (serial.SerialException, OSError) as error:
            raise LinkError(f"cannot open {path}: {error}") from error

    def discard(self):
        """Drops whatever has arrived and not been read."""
        try:
            self._port.reset_input_buffer()
            while self._port.in_waiting:
                self._port.read(self._port.in_waiting)
        except (self._error, OSError) as error:
            raise LinkError(f"link to {self.name} lost: {error}") from error

    def write(self, data):
        """Sends all of data."""
        try:
            self._port.write(data)
            self._port.flush()
        except (self._error, OSError) as error:
            raise LinkError(f"link to {self.name} lost: {error}") from error

    def read(self, deadline):
        """Bytes that arrive before the deadline (time.monotonic()); b"" if none did."""
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            return b""
        try:
            self._port.timeout = remaining
            return self._port.read(max(1, self._port.in_waiting))
        except (self._error, OSError) as error:
            raise LinkError(f"link to {self.name} lost: {error}") from error

    def close(self):
        """Closes the port."""
        self._port.close()


def open_link(address, timeout):
    """A TcpLink or SerialLink for the address; LinkError when it cannot be opened."""
    kind, where, port = parse_address(address)
    if kind == "tcp":
        return TcpLink(where, port, max(timeout, 5.0))
    return SerialLink(where, timeout)
