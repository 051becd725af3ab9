"""The bench's journals, for its Python programs (the shell stand-ins use
standins/standin.sh, which writes the same format)."""
import re
import time

STANDINS = "/bench/journal/standins.log"


def _quote(word):
    if word and re.fullmatch(r"[A-Za-z0-9._,+:/@=%-]+", word):
        return word
    return "'" + word.replace("'", "'\\''") + "'"


def stamp():
    return "%.3f" % time.time()


def journal_args(name, args):
    with open(STANDINS, "a") as f:
        f.write("%s %s\n" % (stamp(), " ".join([name] + [_quote(a) for a in args])))


def note(text):
    with open(STANDINS, "a") as f:
        f.write("%s # %s\n" % (stamp(), text))
