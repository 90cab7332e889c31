"""A terminal emulator (python3-pyte) fed with a program's output through a pty, shared by the
GUI tests that read cells back, with their checks and report. Importing it ends the test as
skipped (77) without pyte."""
import fcntl, os, pty, select, struct, sys, termios, time

try:
    import pyte
except ImportError:
    sys.exit(77)


class Terminal:
    """The screen of the pty master fd, sized width x height; raw keeps every byte read."""

    def __init__(self, fd, width, height):
        self.fd = fd
        self.screen = pyte.Screen(width, height)
        self.stream = pyte.ByteStream(self.screen)
        self.raw = bytearray()
        fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", height, width, 0, 0))

    def pump(self, seconds):
        """Reads output for the given time, or until the program closes the terminal."""
        end = time.time() + seconds
        while time.time() < end:
            r, _, _ = select.select([self.fd], [], [], 0.05)
            if r:
                try:
                    data = os.read(self.fd, 65536)
                except OSError:
                    return
                if not data:
                    return
                self.raw.extend(data)
                self.stream.feed(data)

    def pump_until(self, done, seconds=60):
        """Reads output until done() holds (slow builds take their time) or the time is up."""
        end = time.time() + seconds
        while time.time() < end and not done():
            self.pump(0.1)


def spawn(argv, width, height):
    """Starts argv on a new pty of the given size; gives its pid and its Terminal."""
    pid, fd = pty.fork()
    if pid == 0:
        os.execv(argv[0], argv)
    return pid, Terminal(fd, width, height)


failures = []


def check(what, got, want):
    """Notes a failure when got is not want."""
    if got != want:
        failures.append(f"{what}: got {got!r}, want {want!r}")


def click_until_exit(pid, term, click, seconds, kill_pid=None):
    """Sends the click that closes the window again and again while the program has not taken
    it yet; gives the exit status of pid (killing kill_pid, or pid, when the time is up)."""
    end = time.time() + seconds
    while True:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done or time.time() > end:
            break
        os.write(term.fd, click)
        term.pump(1)
    if not done:
        os.kill(kill_pid or pid, 9)
        _, status = os.waitpid(pid, 0)
    return os.waitstatus_to_exitcode(status)


def finish():
    """Prints the failures and the summary line, and ends the test with its status."""
    for f in failures:
        print(f)
    print(f"{0 if failures else 1} passed, {1 if failures else 0} failed")
    sys.exit(1 if failures else 0)
