"""Runs the program on a command text in a fresh folder and gives the lines of its listing."""
import os
import shutil
import subprocess
import tempfile


def listing(program, commands, words=""):
    """The lines of the listing the program writes for the command text `commands`, with the
    parameter words `words` after the file names."""
    work = tempfile.mkdtemp()
    try:
        with open(os.path.join(work, "run.cmd"), "w") as f:
            f.write(commands)
        subprocess.run([os.path.abspath(program)], input=f"i=run.cmd l=run.lst {words}\n".encode(), cwd=work,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        with open(os.path.join(work, "run.lst")) as f:
            return f.read().splitlines()
    finally:
        shutil.rmtree(work)
