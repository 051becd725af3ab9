"""How the soak's reports write a figure: a number with its decimals, and
the spread (least, median, most, count) of a list of them."""


def fmt(x, nd=1):
    if x is None:
        return "-"
    return ("%." + str(nd) + "f") % x


def spread(xs):
    xs = sorted(x for x in xs if x is not None)
    if not xs:
        return None
    n = len(xs)
    med = xs[n // 2] if n % 2 else (xs[n // 2 - 1] + xs[n // 2]) / 2
    return xs[0], med, xs[-1], n
