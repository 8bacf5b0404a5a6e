#!/usr/bin/env python3
"""Judges the ThreadSanitizer reports in a directory (scripts/tsan_check.sh fills it).

  tsan_reports.py LOG_DIRECTORY

Three kinds of report are tolerated, and only these. Debian's Qt is not instrumented: ThreadSanitizer
sees its memory accesses only through the calls it intercepts (memmove, malloc and the like), with
the caller's address as the top frame, and never sees Qt's own locks.

1. A data race whose two accesses both happen inside Qt's or GLib's machine code, at least one of
   them with no symbol: in each access stack, the first frame that is not ThreadSanitizer's own is
   a "<null>" function in libQt5Core, libQt5Network or libglib, except that one of the two may be
   the block's allocation by a named allocator of those libraries calling malloc. These are the
   queues Qt guards with locks ThreadSanitizer cannot see, such as the posted-event list growing in
   one thread while another drains it; a name-based suppression cannot reach them: no name.
2. The argument array of a queued signal and Qt's copies of the arguments: Qt allocates them in
   the emitting thread (unnamed code of libQt5Core, or QMetaType::create, calling operator new)
   and posts them through that queue; the receiving thread reads them at the top of Qt's header
   template QtPrivate::FunctorCall (or in the parameter's copy constructor that it calls), compiled
   into our code, before any code of ours runs. What
   they point to is not covered: a record passed by pointer is handed over by the code that sends
   it (send/DirectoryTraversal.cpp), and a type passed by value hands its copies over itself
   (model/TransferStateInfo.h, HandOver::Mark in model/HandOver.h).
3. A receiver's destructor (QObject::~QObject, in Qt) reading the meta object of a sender that
   another thread is deleting: Qt does it under the sender's connection lock, which the sender's
   own ~QObject takes before the sender is freed. Only that read (the generated metaObject() at
   the top) against the free of the sender is covered.

Everything else fails the run and is printed in full: any race with a frame of ours, or of a
named Qt function, at the top of either access; any other kind of report (use after free, lock
order inversion, a signal-unsafe call, a thread leak); any ThreadSanitizer error. The tolerated
reports are counted by the pair of code addresses, so that a new one shows in the log.
"""
import collections
import os
import re
import sys

UNSEEN_LIBRARIES = ("libQt5Core.so", "libQt5Network.so", "libglib-2.0.so")
FRAME = re.compile(r"^\s+#\d+ (?P<function>.*?) (?P<where>\S+) \((?P<module>[^+()]+)\+(?P<offset>0x[0-9a-f]+)\)$")
ACCESS = re.compile(r"^  (Previous )?(atomic )?(read|write)", re.IGNORECASE)


def reports(text):
    """Splits one log into its reports (the text between the separator lines)."""
    for block in re.split(r"^=+$", text, flags=re.MULTILINE):
        if "ThreadSanitizer" in block and ("WARNING:" in block or "ERROR:" in block):
            yield block.strip("\n")


def access_stacks(report):
    """The frames of each access stack, in order: a stack starts at an access line and ends at the
    first blank line."""
    stacks, current = [], None
    for line in report.splitlines():
        if ACCESS.match(line):
            current = []
            stacks.append(current)
        elif current is not None:
            match = FRAME.match(line)
            if match:
                current.append(match)
            elif not line.strip():
                current = None
    return stacks


QT_HEADERS = "/usr/include/x86_64-linux-gnu/qt5/QtCore/"
ALLOCATORS = ("malloc", "calloc", "realloc")


def unseen_top(stack):
    """(where, unnamed) for a stack whose first frame beyond ThreadSanitizer's interceptors is code
    of an uninstrumented library: unnamed code, or a named allocator of that library calling
    malloc; None otherwise."""
    if not stack:
        return None
    allocation = stack[0]["function"] in ALLOCATORS
    for frame in stack:
        module = os.path.basename(frame["module"])
        if module.startswith("libtsan.so"):
            continue
        if not module.startswith(UNSEEN_LIBRARIES):
            return None
        if frame["function"] == "<null>":
            return f"{module}+{frame['offset']}", True
        if allocation:
            return f"{module}+{frame['offset']} (allocation)", False
        return None
    return None


COPY = re.compile(r"^(?:\w+::)*(?P<name>\w+)::(?P=name)\((?P=name) const&\)$")


def slot_call(frame):
    """A frame of Qt's header template that calls a slot with the arguments of a queued call."""
    function = frame["function"]
    if not frame["where"].startswith(QT_HEADERS + "qobjectdefs_impl.h:"):
        return False
    return function == "call" or (function.startswith("QtPrivate::FunctorCall<") and "::call(" in function)


def queued_arguments(stacks):
    """Whether the race is on a queued signal's argument array or Qt's copy of an argument: one
    access is its allocation by Qt, the other a read at the top of QtPrivate::FunctorCall."""
    for reader, allocator in (stacks, stacks[::-1]):
        if len(reader) < 1 or len(allocator) < 2:
            continue
        if not slot_call(reader[0]):
            # Or the parameter's copy constructor, inlined into that call, copying Qt's copy.
            if len(reader) < 2 or not COPY.match(reader[0]["function"]):
                continue
            if not slot_call(reader[1]):
                continue
        caller = allocator[1]
        qt_made = caller["function"] == "<null>" or caller["function"].startswith("QMetaType::create(")
        if (allocator[0]["function"].startswith("operator new(") and qt_made
                and os.path.basename(caller["module"]).startswith("libQt5Core.so")):
            return True
    return False


def sender_meta_object(stacks):
    """Whether the race is a receiver's QObject::~QObject reading its sender's meta object while
    another thread deletes the sender: one access is a metaObject() const at the top (or under
    QScopedPointer::operator->) called by QObject::~QObject in libQt5Core, the other the free."""
    for reader, freer in (stacks, stacks[::-1]):
        if not freer or not freer[0]["function"].startswith("operator delete("):
            continue
        for i in range(min(2, len(reader) - 1)):
            if not reader[i]["function"].endswith("::metaObject() const"):
                continue
            caller = reader[i + 1]
            if i == 1 and not reader[0]["function"].startswith("QScopedPointer<QObjectData"):
                continue
            if (caller["function"] == "QObject::~QObject()"
                    and os.path.basename(caller["module"]).startswith("libQt5Core.so")):
                return True
    return False


def tolerated(report):
    """The class of a tolerated report, or None when it must fail the run."""
    first = report.splitlines()[0]
    if not first.startswith("WARNING: ThreadSanitizer: data race"):
        return None
    stacks = access_stacks(report)
    if len(stacks) != 2:
        return None
    if sender_meta_object(stacks):
        return "a receiver's ~QObject reading its sender's meta object, under Qt's connection lock"
    if queued_arguments(stacks):
        return "a queued signal's arguments, as Qt copies them"
    tops = [unseen_top(stack) for stack in stacks]
    if None in tops or not any(unnamed for _, unnamed in tops):
        return None
    return "inside uninstrumented Qt/GLib code: " + " / ".join(where for where, _ in tops)


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    directory = sys.argv[1]
    counts = collections.Counter()
    failing = []
    for name in sorted(os.listdir(directory)):
        with open(os.path.join(directory, name), encoding="utf-8", errors="replace") as log:
            for report in reports(log.read()):
                kind = tolerated(report)
                if kind:
                    counts[kind] += 1
                else:
                    failing.append((name, report))
    for kind, count in sorted(counts.items()):
        print(f"tsan: tolerated {count} x data race: {kind}")
    for name, report in failing:
        print(f"tsan: NOT TOLERATED, from {name}:\n{report}\n", file=sys.stderr)
    print(f"tsan: {sum(counts.values())} tolerated, {len(failing)} not tolerated")
    return 1 if failing else 0


if __name__ == "__main__":
    sys.exit(main())
