"""Generator of sample iTunes-style backups; mkbackup.py is its command line."""
