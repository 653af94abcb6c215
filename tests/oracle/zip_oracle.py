"""Independent ZIP reader (Python's zipfile) for the tests.

  zip_oracle.py ARCHIVE [PASSWORD]
prints one line per entry, tab-separated: name, method (0 store, 8 deflate),
uncompressed size, compressed size, encrypted (0/1), DOS date-time as
Y-M-D-h-m-s, content in hex. Exits 1 when an entry cannot be read (a missing
or wrong password, damaged data).
"""
import sys
import zipfile


def main():
    path = sys.argv[1]
    pwd = sys.argv[2].encode() if len(sys.argv) > 2 else None
    try:
        with zipfile.ZipFile(path) as z:
            for info in z.infolist():
                data = z.read(info, pwd=pwd)
                when = "-".join(str(v) for v in info.date_time)
                print("\t".join([info.filename, str(info.compress_type), str(info.file_size),
                                 str(info.compress_size), str(info.flag_bits & 1), when, data.hex()]))
    except (RuntimeError, zipfile.BadZipFile, OSError) as e:
        print(e, file=sys.stderr)
        sys.exit(1)


if __name__ == "__main__":
    main()
