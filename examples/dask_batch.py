#!/usr/bin/env python3
"""Transforms every picture of a folder into a .npy file of its coefficients,
over a Dask cluster.

    dask_batch.py [--levels=N] [--wavelet=9/7|5/3] [--workers=N]
                  [--scheduler=ADDRESS] INPUT_FOLDER OUTPUT_FOLDER

Every regular file of INPUT_FOLDER whose name does not begin with a dot is
read as a picture of whatever format the dwt97 package recognises by its
first bytes (bitmap, PGM, PPM, PNG, JPEG, TIFF). Its coefficients of
``--levels`` levels (default 1) of the ``--wavelet`` (9/7, the default, in
float32; or the reversible 5/3, in int32), top row first, go to
OUTPUT_FOLDER (made if missing) under the input's name with its last suffix
replaced by ``.npy``: the very bytes of

    dwt97 --no-pause -q [--levels=N] [--wavelet=5/3] INPUT OUTPUT.npy

Without ``--scheduler`` the script starts a LocalCluster of ``--workers``
worker processes (default: one per core) of one thread each; with
``--scheduler tcp://host:8786`` it uses the cluster of that scheduler, whose
workers need the dwt97 package (and numpy) installed.

The client ships each file's bytes to the cluster and writes the results
itself: the workers read and write no files, so they need not see either
folder (no shared file system), and the output folder is only the client's.
At most a few pictures per worker are in flight at once, so a large folder
is never held in memory whole.

An output is written to a temporary file beside it and renamed over the
final name only once complete, so a failure leaves no partial output. A
picture that cannot be read or transformed does not stop the others: it gets
one line on standard error, ``NAME: MESSAGE`` with the package's message,
and no output. Two inputs that would write the same output (``a.bmp`` and
``a.png``) are both refused before anything is sent. The exit status is 0
when every picture was written, 1 when any was not (or a folder could not
be read), 2 for a wrong command line.
"""
import argparse
import io
import logging
import os
import sys
import uuid

# How many pictures per worker are sent ahead of the results: enough to keep
# every worker busy while the client writes, few enough to bound memory.
IN_FLIGHT_PER_WORKER = 4


def transform(data, levels, wavelet, threads):
    """The .npy bytes of the coefficients of the picture file `data`, as the
    tool writes them; runs on a worker. A failure raises the package's own
    exception, which reaches the client as that same class."""
    import numpy as np

    import dwt97

    picture = dwt97.parse(data)
    coefficients = dwt97.analyze(picture.upright(), levels, threads, wavelet=wavelet)
    out = io.BytesIO()
    np.save(out, coefficients, allow_pickle=False)
    return out.getvalue()


def output_name(name):
    """The input's base name with its last suffix replaced by .npy."""
    return os.path.splitext(name)[0] + ".npy"


def write_whole(path, data):
    """Writes `data` to `path` through a temporary file beside it, renamed
    over `path` once complete; on failure nothing is left behind."""
    folder, name = os.path.split(path)
    temporary = os.path.join(folder, ".%s.%s.tmp" % (name, uuid.uuid4().hex[:12]))
    # O_EXCL: never another file's; 0o666 less the umask, as any new file.
    descriptor = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o666)
    try:
        with os.fdopen(descriptor, "wb") as file:
            file.write(data)
        os.replace(temporary, path)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise


def pictures_of(folder):
    """The names of the folder's regular files not beginning with a dot,
    sorted."""
    names = []
    with os.scandir(folder) as entries:
        for entry in entries:
            if not entry.name.startswith(".") and entry.is_file():
                names.append(entry.name)
    return sorted(names)


def report(name, error):
    """One line on standard error for a picture not written."""
    import dwt97

    if isinstance(error, dwt97.Error):
        message = str(error)
    else:
        message = "%s: %s" % (type(error).__name__, error)
    print("%s: %s" % (name, message), file=sys.stderr, flush=True)


def count(text):
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError("invalid count '%s' (1 or more)" % text)
    return value


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        description="Transform every picture of a folder into .npy coefficients over Dask.")
    parser.add_argument("input", help="the folder of pictures")
    parser.add_argument("output", help="the folder of the .npy files (made if missing)")
    parser.add_argument("--levels", type=count, default=1, metavar="N",
                        help="N levels (default 1), each after the first on the low-low band")
    parser.add_argument("--wavelet", choices=("9/7", "5/3"), default="9/7",
                        help="9/7 (default, float32) or 5/3 (reversible, int32)")
    parser.add_argument("--threads", type=count, default=1, metavar="N",
                        help="threads per picture (default 1: the cluster runs pictures at once)")
    where = parser.add_mutually_exclusive_group()
    where.add_argument("--workers", type=count, default=None, metavar="N",
                       help="worker processes of the local cluster (default: one per core)")
    where.add_argument("--scheduler", metavar="ADDRESS",
                       help="the scheduler of a running cluster, such as tcp://host:8786")
    return parser.parse_args(argv)


def run(arguments, names, client):
    """Transforms the pictures `names` of the input folder on `client`'s
    cluster; returns the exit status."""
    from distributed import as_completed

    failed = False
    by_output = {}
    for name in names:
        by_output.setdefault(output_name(name), []).append(name)
    todo = []
    for name in names:
        sharing = by_output[output_name(name)]
        if len(sharing) > 1:
            others = ", ".join(other for other in sharing if other != name)
            print("%s: its output %s is also that of %s" % (name, output_name(name), others),
                  file=sys.stderr, flush=True)
            failed = True
        else:
            todo.append(name)

    workers = max(1, len(client.scheduler_info().get("workers", {})))
    window = workers * IN_FLIGHT_PER_WORKER
    pending = iter(todo)
    running = as_completed()
    names_of = {}

    def send_next():
        nonlocal failed
        for name in pending:
            try:
                with open(os.path.join(arguments.input, name), "rb") as file:
                    data = file.read()
            except OSError as error:
                report(name, error)
                failed = True
                continue
            shipped = client.scatter(data, hash=False)
            future = client.submit(transform, shipped, arguments.levels, arguments.wavelet,
                                   arguments.threads, pure=False)
            names_of[future.key] = (name, shipped)
            running.add(future)
            return True
        return False

    while len(names_of) < window and send_next():
        pass
    for future in running:
        name, shipped = names_of.pop(future.key)
        try:
            data = future.result()
            write_whole(os.path.join(arguments.output, output_name(name)), data)
        except Exception as error:  # one picture's failure, reported; the others go on
            report(name, error)
            failed = True
        finally:
            future.release()
            shipped.release()
        send_next()
    return 1 if failed else 0


def main(argv=None):
    arguments = parse_arguments(sys.argv[1:] if argv is None else argv)
    try:
        names = pictures_of(arguments.input)
        os.makedirs(arguments.output, exist_ok=True)
    except OSError as error:
        print("%s: %s" % (os.path.basename(sys.argv[0]), error), file=sys.stderr)
        return 1
    if not names:
        return 0

    from distributed import Client, LocalCluster

    if arguments.scheduler:
        try:
            client = Client(arguments.scheduler)
        except OSError as error:  # no scheduler there, or it did not answer in time
            print("%s: %s" % (os.path.basename(sys.argv[0]), error), file=sys.stderr)
            return 1
        with client:
            return run(arguments, names, client)
    # The workers' own warnings of a failed task are left out: each failure
    # gets its one line from here.
    with LocalCluster(n_workers=arguments.workers, threads_per_worker=1, processes=True,
                      dashboard_address=None, silence_logs=logging.ERROR) as cluster, \
            Client(cluster) as client:
        return run(arguments, names, client)


if __name__ == "__main__":
    sys.exit(main())
