"""The opening every seed database shares: a new file with small pages and freed bytes left in place."""
import os
import sqlite3


def fresh_database(path, page_size=512, auto_vacuum="NONE", encoding=None):
    """A new database at path (an old one is replaced), in autocommit mode, whose deletions
    leave their bytes behind for the carvers to find."""
    if os.path.exists(path):
        os.remove(path)
    db = sqlite3.connect(path, isolation_level=None)
    db.execute("PRAGMA page_size=%d" % page_size)
    db.execute("PRAGMA auto_vacuum=%s" % auto_vacuum)
    db.execute("PRAGMA secure_delete=OFF")
    if encoding:
        db.execute("PRAGMA encoding='%s'" % encoding)
    return db
