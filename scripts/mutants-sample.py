#!/usr/bin/env python3
"""Faults drawn at random over the program's C++, for scripts/mutants.

The hand-written faults in scripts/mutants are the ones someone thought of; these are the ones
nobody chose, so a test suite that only guards what its authors had in mind shows it here.

Every candidate site (file, line, column, operator) is collected from the program's sources in a
fixed order, and the faults are drawn from them with random.Random(SEED): the same seed over the
same sources draws the same faults. A fault that does not compile is put back and the next one is
drawn; it says nothing about the tests. Survivors named in scripts/mutants-equivalent are reported
apart and left out of the score.

Only the standard library is used, and nothing newer than Python 3.11 (Debian 12's python3, which
the build dependencies already bring in).
"""

import argparse
import bisect
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EQUIVALENT_LIST = os.path.join("scripts", "mutants-equivalent")

# The program's own C++: the tests and benchmarks are what is being judged, not what is mutated.
PATHSPECS = ["app/*.cpp", "app/*.h", "platform/*.cpp", "platform/*.h", "playback/*", "settings/*"]

# The same run as the hand-written faults get: the package build and the all-in-one-process run
# find no fault of this kind, and cost minutes; and a fault is caught once one test fails.
TEST_COMMAND_ARGS = ["test", 'CTEST_ARGS=-LE "package|together" --stop-on-failure']

OPERATORS = ["comparison", "logic", "negate", "integer", "boolean", "call", "return", "string"]

COMPARISON_SWAP = {"==": "!=", "!=": "==", "<": ">=", ">=": "<", ">": "<=", "<=": ">"}
LOGIC_SWAP = {"&&": "||", "||": "&&"}

KEYWORDS = set("""
alignas alignof and and_eq asm auto bitand bitor bool break case catch char char8_t char16_t
char32_t class co_await co_return co_yield compl concept const consteval constexpr constinit
const_cast continue decltype default delete do double dynamic_cast else enum explicit export
extern false float for friend goto if inline int long mutable namespace new noexcept not not_eq
nullptr operator or or_eq private protected public register reinterpret_cast requires return
short signed sizeof static static_assert static_cast struct switch template this thread_local
throw true try typedef typeid typename union unsigned using virtual void volatile wchar_t while
xor xor_eq
""".split())
TYPE_WORDS = {"auto", "bool", "char", "const", "double", "float", "int", "long", "short",
              "signed", "unsigned", "void", "volatile", "struct", "class", "typename"}
CASTS = ("static_cast", "reinterpret_cast", "const_cast", "dynamic_cast")
# A call to one of these does nothing in the release build (or at run time at all), so deleting
# it, or changing what is inside it, could never be caught.
INERT_CALLS = {"assert", "static_assert", "Q_ASSERT", "Q_ASSERT_X", "Q_UNUSED",
               "Q_DISABLE_COPY", "Q_DISABLE_COPY_MOVE", "Q_DECLARE_METATYPE", "_Pragma"}

PUNCTUATORS = sorted("""
>>= <<= <=> ->* ... :: -> ++ -- << >> <= >= == != && || += -= *= /= %= &= |= ^= .* ##
""".split(), key=len, reverse=True)

PRINTABLE = [chr(c) for c in range(0x20, 0x7F)]
# Never written into a string: a quote or backslash ends or escapes it, % makes a format string
# read arguments that are not there, and ? can start a trigraph the compiler warns about.
NEVER_WRITTEN = set('"\\%?')
HEX_DIGITS = set("0123456789abcdefABCDEF")


# ------------------------------------------------------------------------------------------------
# Reading C++: just enough to tell code from comments, strings and directives.

@dataclass
class Token:
    kind: str  # ident number string pstring rawstring char punct comment pp
    start: int
    end: int
    text: str


def scan_quoted(src, i):
    quote, j, n = src[i], i + 1, len(src)
    while j < n:
        c = src[j]
        if c == "\\":
            j += 2
        elif c == quote:
            return j + 1
        elif c == "\n":
            return j
        else:
            j += 1
    return n


def lex(src):
    tokens, i, n, line_start = [], 0, len(src), True
    while i < n:
        c = src[i]
        if c == "\n":
            line_start, i = True, i + 1
            continue
        if c in " \t\r\f\v":
            i += 1
            continue
        if c == "\\" and src.startswith("\n", i + 1):
            i += 2
            continue
        start = i
        if src.startswith("//", i):
            end = src.find("\n", i)
            end = n if end < 0 else end
            tokens.append(Token("comment", start, end, src[start:end]))
            i = end
            continue
        if src.startswith("/*", i):
            end = src.find("*/", i + 2)
            end = n if end < 0 else end + 2
            tokens.append(Token("comment", start, end, src[start:end]))
            i = end
            continue
        if c == "#" and line_start:
            end = i
            while True:
                end = src.find("\n", end)
                if end < 0:
                    end = n
                    break
                if src[end - 1] != "\\":
                    break
                end += 1
            tokens.append(Token("pp", start, end, src[start:end]))
            i = end
            continue
        line_start = False
        if c.isalpha() or c == "_":
            j = i + 1
            while j < n and (src[j].isalnum() or src[j] == "_"):
                j += 1
            word = src[i:j]
            if j < n and src[j] == '"' and word in ("R", "u8R", "uR", "UR", "LR"):
                paren = src.find("(", j + 1)
                delimiter = src[j + 1:paren]
                close = src.find(")" + delimiter + '"', paren + 1)
                end = n if close < 0 else close + len(delimiter) + 2
                tokens.append(Token("rawstring", start, end, src[start:end]))
                i = end
                continue
            if j < n and src[j] in "\"'" and word in ("u8", "u", "U", "L"):
                end = scan_quoted(src, j)
                tokens.append(Token("pstring", start, end, src[start:end]))
                i = end
                continue
            tokens.append(Token("ident", start, j, word))
            i = j
            continue
        if c.isdigit() or (c == "." and i + 1 < n and src[i + 1].isdigit()):
            j = i + 1
            while j < n:
                d = src[j]
                if d.isalnum() or d in "_.":
                    j += 1
                elif d == "'" and j + 1 < n and src[j + 1].isalnum():
                    j += 1
                elif d in "+-" and src[j - 1] in "eEpP":
                    j += 1
                else:
                    break
            tokens.append(Token("number", start, j, src[start:j]))
            i = j
            continue
        if c in "\"'":
            end = scan_quoted(src, i)
            tokens.append(Token("string" if c == '"' else "char", start, end, src[start:end]))
            i = end
            continue
        for p in PUNCTUATORS:
            if src.startswith(p, i):
                break
        else:
            p = c
        tokens.append(Token("punct", start, i + len(p), p))
        i += len(p)
    return tokens


# ------------------------------------------------------------------------------------------------
# Sites.

@dataclass
class Site:
    file: str
    line: int  # 1-based
    col: int  # 1-based
    op: str
    span: tuple  # the source range the fault touches, for the lines shown before and after
    edits: list = None  # [(start, end, text)] when the fault is fixed by the site
    choices: dict = field(default_factory=dict)  # what the draw picks from otherwise

    def key(self):
        return (self.file, self.line, self.col, OPERATORS.index(self.op))


@dataclass
class Fault:
    site: Site
    edits: list
    before: str
    after: str


class Source:
    def __init__(self, path, text):
        self.path, self.text = path, text
        self.line_starts = [0] + [m.end() for m in re.finditer("\n", text)]
        tokens = lex(text)
        self.code = [t for t in tokens if t.kind not in ("comment", "pp")]
        self.match = self._match_brackets()
        self.scope = self._scopes()
        self.inert = self._inert_ranges()

    def line_of(self, offset):
        return bisect.bisect_right(self.line_starts, offset) - 1

    def position(self, offset):
        line = self.line_of(offset)
        return line + 1, offset - self.line_starts[line] + 1

    def lines_text(self, start, end, edits=()):
        """The lines from start to end, each stripped and joined by one blank, with edits made."""
        first = self.line_of(start)
        last = self.line_of(max(start, end - 1))
        region_start = self.line_starts[first]
        region_end = (self.line_starts[last + 1] - 1 if last + 1 < len(self.line_starts)
                      else len(self.text))
        region = self.text[region_start:region_end]
        for s, e, new in sorted(edits, reverse=True):
            region = region[:s - region_start] + new + region[e - region_start:]
        return " ".join(part.strip() for part in region.split("\n") if part.strip())

    def _match_brackets(self):
        match, stack = {}, []
        pairs = {")": "(", "]": "[", "}": "{"}
        for i, t in enumerate(self.code):
            if t.kind != "punct":
                continue
            if t.text in "([{":
                stack.append(i)
            elif t.text in pairs:
                while stack and self.code[stack[-1]].text != pairs[t.text]:
                    stack.pop()
                if stack:
                    opening = stack.pop()
                    match[opening], match[i] = i, opening
        return match

    def _scopes(self):
        """For each token, what the innermost brace around it opens: class, enum, ns or other."""
        scope, stack, self.brace, braces = [], [], [], []
        for i, t in enumerate(self.code):
            scope.append(stack[-1] if stack else "ns")
            self.brace.append(braces[-1] if braces else None)
            if t.text == "{" and t.kind == "punct":
                braces.append(i)
                k = i - 1
                while k >= 0 and self.code[k].text not in (";", "{", "}"):
                    k -= 1
                head = {x.text for x in self.code[k + 1:i]}
                if "namespace" in head:
                    stack.append("ns")
                elif "enum" in head:
                    stack.append("enum")
                elif head & {"class", "struct", "union"} and "(" not in head:
                    stack.append("class")
                else:
                    stack.append("other")
            elif t.text == "}" and t.kind == "punct" and stack:
                stack.pop()
                braces.pop()
        return scope

    def _inert_ranges(self):
        ranges = []
        for i, t in enumerate(self.code[:-1]):
            if t.kind == "ident" and t.text in INERT_CALLS and self.code[i + 1].text == "(":
                close = self.match.get(i + 1)
                if close is not None:
                    ranges.append((t.start, self.code[close].end))
        return ranges

    def is_inert(self, offset):
        return any(s <= offset < e for s, e in self.inert)

    def spaced(self, t):
        """Whitespace (or a line's edge) on both sides: how a binary operator is formatted."""
        before = self.text[t.start - 1] if t.start > 0 else "\n"
        after = self.text[t.end] if t.end < len(self.text) else "\n"
        return before in " \t\n" and after in " \t\r\n"

    def depth0(self, first, last):
        """Indices from first to last (inclusive) that are not inside brackets opened there."""
        k = first
        while k <= last:
            yield k
            if self.code[k].text in ("(", "[", "{") and k in self.match and self.match[k] <= last:
                k = self.match[k]
            else:
                k += 1

    # --- the operators, one finder each ---------------------------------------------------------

    def sites(self):
        found = []
        for i, t in enumerate(self.code):
            if self.is_inert(t.start):
                continue
            for finder in (self._comparison_or_logic, self._negate, self._integer,
                           self._boolean, self._call, self._return, self._string):
                site = finder(i, t)
                if site is not None:
                    found.append(site)
        return found

    def _site(self, t, op, span, edits=None, **choices):
        line, col = self.position(t.start)
        return Site(self.path, line, col, op, span, edits, choices)

    def _comparison_or_logic(self, i, t):
        if t.kind != "punct" or t.text not in COMPARISON_SWAP and t.text not in LOGIC_SWAP:
            return None
        if not self.spaced(t):
            return None  # a template's brackets, an rvalue reference, a declarator
        if i > 0 and self.code[i - 1].text in ("operator", "template"):
            return None
        if t.text in LOGIC_SWAP:
            return self._site(t, "logic", (t.start, t.end), self._logic_swap(i))
        return self._site(t, "comparison", (t.start, t.end),
                          [(t.start, t.end, COMPARISON_SWAP[t.text])])

    BOUNDS = {",", ";", "?", ":", "=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<<=",
              ">>=", "return"}

    def _logic_swap(self, i):
        """&& and || swapped at token i, with the grouping C++ gives the result written out in
        parentheses: a || b || c becomes a || (b && c), which is what a || b && c means, and
        is built where -Wparentheses would stop the bare form."""
        code, swapped = self.code, LOGIC_SWAP[self.code[i].text]
        left = i - 1
        while left >= 0 and code[left].text not in self.BOUNDS and code[left].text not in "([{":
            left = self.match[left] - 1 if code[left].text in ")]}" and left in self.match \
                else left - 1
        right = i + 1
        while right < len(code) and code[right].text not in self.BOUNDS and \
                code[right].text not in ")]}":
            right = self.match[right] + 1 if code[right].text in "([{" and right in self.match \
                else right + 1
        operators = [k for k in self.depth0(left + 1, right - 1)
                     if code[k].text in LOGIC_SWAP]
        after = [swapped if k == i else code[k].text for k in operators]
        edits = [(code[i].start, code[i].end, swapped)]
        if "||" not in after or "&&" not in after:
            return edits
        bounds = [left] + operators + [right]
        run_start = None  # the first operand of a run joined by &&
        for n, op in enumerate(after + ["||"]):
            if op == "&&" and run_start is None:
                run_start = n
            elif op == "||" and run_start is not None:
                edits.append((code[bounds[run_start] + 1].start, code[bounds[run_start] + 1].start,
                              "("))
                edits.append((code[bounds[n + 1] - 1].end, code[bounds[n + 1] - 1].end, ")"))
                run_start = None
        return edits

    def _negate(self, i, t):
        if t.kind != "ident" or t.text not in ("if", "while"):
            return None
        j = i + 1
        if j < len(self.code) and self.code[j].text == "constexpr":
            j += 1
        if j >= len(self.code) or self.code[j].text != "(" or j not in self.match:
            return None
        close = self.match[j]
        first = j + 1
        for k in self.depth0(j + 1, close - 1):
            if self.code[k].text == ";":
                first = k + 1  # after an init-statement: the condition itself
        if first >= close:
            return None
        if any(self.code[k].text == "=" for k in self.depth0(first, close - 1)):
            return None  # a declaration as the condition cannot be negated
        start, end = self.code[first].start, self.code[close - 1].end
        return self._site(t, "negate", (t.start, self.code[close].end),
                          [(start, start, "!("), (end, end, ")")])

    INTEGER = re.compile(r"^(0[xX][0-9a-fA-F']+|0[bB][01']+|[0-9][0-9']*)([uUlLzZ]*)$")

    def _integer(self, i, t):
        if t.kind != "number" or not self.INTEGER.match(t.text):
            return None
        code = self.code
        if (t.text == "0" and 0 < i < len(code) - 1 and code[i - 1].text == "=" and
                code[i + 1].text == ";" and i > 1 and
                code[i - 2].text in (")", "const", "override", "noexcept", "final")):
            return None  # "= 0": a pure virtual function
        return self._site(t, "integer", (t.start, t.end), literal=t)

    def _boolean(self, i, t):
        if t.kind != "ident" or t.text not in ("true", "false"):
            return None
        flipped = "false" if t.text == "true" else "true"
        return self._site(t, "boolean", (t.start, t.end), [(t.start, t.end, flipped)])

    def _call(self, i, t):
        """A line that is one statement: a call, as in foo(a, b); or obj->bar().baz();"""
        code = self.code
        line = self.line_of(t.start)
        if i > 0 and self.line_of(code[i - 1].start) == line:
            return None  # the statement must start the line
        if i > 0 and code[i - 1].text not in (";", "{", "}", ")", ":", "else"):
            return None  # the rest of a statement that began above
        if self.scope[i] in ("class", "enum"):
            return None  # a member's declaration, not a call
        semi = i
        while semi < len(code) and self.line_of(code[semi].start) == line:
            semi += 1
        semi -= 1
        if semi - i < 3 or code[semi].text != ";" or code[semi - 1].text != ")":
            return None
        j = i
        if code[j].text in ("emit", "Q_EMIT"):
            j += 1
        if code[j].text == "::":
            j += 1
        if code[j].kind != "ident" or (code[j].text in KEYWORDS and
                                       code[j].text not in ("this", *CASTS)):
            return None
        if code[j].text in INERT_CALLS:
            return None
        j += 1
        calls, last_was_call, first_call = 0, False, None
        while j < semi:
            x = code[j]
            if x.text in ("::", ".", "->"):
                if code[j + 1].kind != "ident":
                    return None
                j, last_was_call = j + 2, False
            elif x.text in ("(", "["):
                close = self.match.get(j)
                if close is None or close >= semi:
                    return None
                if x.text == "(":
                    calls += 1
                    first_call = first_call if first_call is not None else j
                last_was_call, j = x.text == "(", close + 1
            elif x.text == "<" and x.start == code[j - 1].end and code[j - 1].kind == "ident":
                depth = 0
                while j < semi:
                    depth += {"<": 1, ">": -1, ">>": -2}.get(code[j].text, 0)
                    j += 1
                    if depth <= 0:
                        break
                if depth != 0:
                    return None
                last_was_call = False
            else:
                return None  # an assignment, an operator, a declaration: not a bare call
        if not last_was_call:
            return None
        if calls == 1 and self._looks_like_parameters(first_call):
            return None  # a function's declaration, as Foo(int x);
        return self._site(t, "call", (t.start, code[semi].end), [(t.start, code[semi].end, ";")])

    def _looks_like_parameters(self, opening):
        code, previous = self.code, None
        for k in self.depth0(opening + 1, self.match[opening] - 1):
            x = code[k]
            if x.kind == "ident" and x.text in TYPE_WORDS and (previous is None or
                                                               previous.text == ","):
                return True
            if (x.kind == "ident" and previous is not None and previous.kind == "ident" and
                    previous.text not in ("new", "delete", "sizeof", "co_await", "throw")):
                return True
            previous = x
        return False

    def _return(self, i, t):
        if t.kind != "ident" or t.text != "return":
            return None
        code = self.code
        semi = i + 1
        while semi < len(code) and code[semi].text != ";":
            if code[semi].text in ("(", "[", "{") and semi in self.match:
                semi = self.match[semi]
            semi += 1
        if semi >= len(code) or semi == i + 1:
            return None  # return; of a void function
        first, last = i + 1, semi - 1
        texts = [code[k].text for k in range(first, last + 1)]
        if len(texts) == 1 and (code[first].kind == "number" or
                                texts[0] in ("true", "false", "nullptr", "NULL")):
            return None  # the literal's own operator moves it; {} would change nothing
        if texts == ["{", "}"]:
            return None
        start, end = code[first].start, code[last].end
        top = list(self.depth0(first, last))
        # A condition is negated; a choice between values (a ? b : c) is not one.
        condition = all(code[k].text != "?" for k in top) and (texts[0] == "!" or any(
            code[k].text in ("==", "!=", "<=", ">=", "&&", "||") or
            (code[k].text in ("<", ">") and self.spaced(code[k])) for k in top))
        if not condition and self._deduced(i):
            return None  # {} has no type to deduce a return type from
        new = "!(" + self.text[start:end] + ")" if condition else "{}"
        return self._site(t, "return", (t.start, code[semi].end), [(start, end, new)])

    def _deduced(self, i):
        """Whether the function or lambda around token i deduces its return type."""
        code, k = self.code, self.brace[i]
        if k is None:
            return False
        k -= 1
        while k >= 0:
            x = code[k]
            if x.text == "->":
                return False
            if x.text == "]":
                return True  # a lambda's captures
            if x.text == ")" and k in self.match:
                k = self.match[k]
            elif x.text in (";", "{", "}", "(", ",", "="):
                return code[k + 1].text == "auto"
            k -= 1
        return code[0].text == "auto"

    def _string(self, i, t):
        if t.kind != "string" or len(t.text) < 3 or not t.text.endswith('"'):
            return None
        if i > 0 and self.code[i - 1].text in ("extern", "asm", "operator"):
            return None
        spots, k, body_end = [], t.start + 1, t.end - 1
        numeric_escape, after_percent = False, False
        while k < body_end:
            c = self.text[k]
            if c == "\\":
                kind = self.text[k + 1]
                k += 2
                if kind in "xuU":
                    while k < body_end and self.text[k] in HEX_DIGITS:
                        k += 1
                elif kind in "01234567":
                    octal_end = min(k + 2, body_end)  # up to three digits in all
                    while k < octal_end and self.text[k] in "01234567":
                        k += 1
                numeric_escape = kind in "xuU01234567"
                after_percent = False
                continue
            if " " <= c <= "~" and c != "%" and not after_percent:
                pool = [p for p in PRINTABLE if p != c and p not in NEVER_WRITTEN and
                        not (numeric_escape and p in HEX_DIGITS)]
                spots.append((k, pool))
            numeric_escape, after_percent = False, c == "%"
            k += 1
        if not spots:
            return None
        return self._site(t, "string", (t.start, t.end), spots=spots)


def program_files():
    out = subprocess.run(["git", "ls-files", "-z", "--", *PATHSPECS], cwd=ROOT,
                         capture_output=True, check=True).stdout.decode()
    return sorted(p for p in out.split("\0") if p.endswith((".cpp", ".h")))


def collect(root):
    """The sites in the files git tracks here, read from root (this tree or its copy)."""
    sources, sites = {}, []
    for path in program_files():
        with open(os.path.join(root, path), encoding="utf-8", newline="") as f:
            source = Source(path, f.read())
        sources[path] = source
        sites.extend(source.sites())
    sites.sort(key=Site.key)
    return sources, sites


def realise(site, source, rng):
    """The fault at a site; the integer and string operators draw their detail from rng."""
    edits = site.edits
    if site.op == "integer":
        t = site.choices["literal"]
        edits = [(t.start, t.end, moved_integer(t.text, rng.choice((1, -1))))]
    elif site.op == "string":
        offset, pool = rng.choice(site.choices["spots"])
        edits = [(offset, offset + 1, rng.choice(pool))]
    start = min([site.span[0]] + [e[0] for e in edits])
    end = max([site.span[1]] + [e[1] for e in edits])
    return Fault(site, edits, source.lines_text(start, end),
                 source.lines_text(start, end, edits=edits))


def moved_integer(text, step):
    body, suffix = Source.INTEGER.match(text).groups()
    digits = body.replace("'", "")
    if digits[:2] in ("0x", "0X"):
        prefix, base, number = digits[:2], 16, digits[2:]
    elif digits[:2] in ("0b", "0B"):
        prefix, base, number = digits[:2], 2, digits[2:]
    elif len(digits) > 1 and digits[0] == "0":
        prefix, base, number = "0", 8, digits[1:]
    else:
        prefix, base, number = "", 10, digits
    value = int(number, base) + step
    magnitude = abs(value)
    if base == 16:
        written = format(magnitude, "X" if number.upper() == number else "x")
    elif base == 2:
        written = format(magnitude, "b")
    elif base == 8:
        written = format(magnitude, "o")
    else:
        written = str(magnitude)
    written = written.rjust(len(number), "0") if base != 10 else written
    return ("-" if value < 0 else "") + prefix + written + suffix


def draws(sites, sources, seed):
    """Faults in the order the seed draws them; the caller takes as many as it needs."""
    rng = random.Random(seed)
    for index in rng.sample(range(len(sites)), len(sites)):
        site = sites[index]
        yield realise(site, sources[site.file], rng)


# ------------------------------------------------------------------------------------------------
# Survivors known to change nothing.

def load_equivalents(root):
    """{(file, before, after, operator): reason} from the list; a line without a reason fails."""
    path = os.path.join(root, EQUIVALENT_LIST)
    known = {}
    if not os.path.exists(path):
        return known
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            parts = line.split(" ~~ ", 4)
            if len(parts) != 5 or not parts[4].strip() or parts[3].strip() not in OPERATORS:
                sys.exit(f"{EQUIVALENT_LIST}:{number}: expected "
                         "'file ~~ line before ~~ line after ~~ operator ~~ reason'")
            file, before, after, op, reason = (p.strip() for p in parts)
            known[(file, before, after, op)] = reason
    return known


def fault_key(fault):
    return (fault.site.file, fault.before, fault.after, fault.site.op)


# ------------------------------------------------------------------------------------------------
# Running.

def run(command, log_path, cwd=None):
    """Runs command in a process group of its own; nothing it started outlives it."""
    with open(log_path, "wb") as log:
        process = subprocess.Popen(command, cwd=cwd, stdout=log, stderr=subprocess.STDOUT,
                                   stdin=subprocess.DEVNULL, start_new_session=True)
        try:
            status = process.wait()
        except BaseException:
            end_group(process)
            raise
        end_group(process)  # whatever it left behind in its group
        return status


def end_group(process):
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(process.pid, sig)
        except ProcessLookupError:
            return
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            continue
        time.sleep(0.2)  # let the group's other members go too


def failed_test(log_path):
    with open(log_path, encoding="utf-8", errors="replace") as f:
        log = f.read()
    listed = log.partition("The following tests FAILED:")[2]
    names = re.findall(r"^\s*\d+ - (.+?) \(\w+\)\s*$", listed, re.MULTILINE)
    if not names:
        return "make test failed"
    # Each that failed before the run stopped: those already running when the first failed end too.
    return ", ".join(names[:4]) + (f" and {len(names) - 4} more" if len(names) > 4 else "")


def first_error(log_path):
    with open(log_path, encoding="utf-8", errors="replace") as f:
        found = re.search(r"error: ([^\n]*)", f.read())
    return found.group(1).strip()[:120] if found else "the build failed"


def write(path, text):
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(text)


def apply(source, edits):
    text = source.text
    for start, end, new in sorted(edits, reverse=True):
        text = text[:start] + new + text[end:]
    return text


def describe(fault):
    site = fault.site
    return f"{site.file}:{site.line} {site.op}"


def sample(args):
    # One copy, one fault at a time: the desktop tests take an X display with xvfb-run -a, which
    # two test runs at once can both pick, and the tests that wait on sound in real time already
    # share the two cores four ways.
    equivalents = load_equivalents(ROOT)
    work = tempfile.mkdtemp(prefix="korvel-mutants.", dir="/tmp")
    try:
        subprocess.run(["sh", "-c", 'git ls-files -z | tar --null -cf - -T - | tar -xf - -C "$1"',
                        "sh", work], cwd=ROOT, check=True)
        sources, sites = collect(work)
        print(f"{len(sites)} candidate sites; drawing {args.sample} faults with seed {args.seed}",
              flush=True)
        print(f"building and testing the unchanged copy in {work} ...", flush=True)
        log = os.path.join(work, "baseline.log")
        if run(["make", "-C", work, *TEST_COMMAND_ARGS], log) != 0:
            subprocess.run(["tail", "-n", "30", log])
            print("the unchanged tree does not pass its tests; no fault can be judged")
            return 1

        drawn, caught, survivors, unbuilt = 0, 0, [], []
        log = os.path.join(work, "fault.log")
        for fault in draws(sites, sources, args.seed):
            if drawn - len(unbuilt) == args.sample:
                break
            drawn += 1
            source = sources[fault.site.file]
            path = os.path.join(work, source.path)
            began = time.monotonic()
            write(path, apply(source, fault.edits))
            try:
                if run(["cmake", "--build", os.path.join(work, "build", "release")], log) != 0:
                    unbuilt.append(fault)
                    print(f"no build     {describe(fault)}: {first_error(log)}; drawn again",
                          flush=True)
                    continue
                tested = run(["make", "-C", work, *TEST_COMMAND_ARGS], log)
            finally:
                write(path, source.text)
                os.utime(path)  # newer than the faulty build, so the next build takes it back
            seconds = round(time.monotonic() - began)
            if tested != 0:
                caught += 1
                print(f"caught       {describe(fault)}: {failed_test(log)} ({seconds} s)",
                      flush=True)
                if fault_key(fault) in equivalents:
                    print(f"             it is listed in {EQUIVALENT_LIST}, wrongly", flush=True)
            else:
                survivors.append(fault)
                verdict = "equivalent " if fault_key(fault) in equivalents else "SURVIVED   "
                print(f"{verdict}  {describe(fault)} ({seconds} s)", flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)

    built = drawn - len(unbuilt)
    equivalent = [f for f in survivors if fault_key(f) in equivalents]
    unexplained = [f for f in survivors if fault_key(f) not in equivalents]
    print()
    if built < args.sample:
        print(f"only {built} of the {len(sites)} sites gave a fault that builds")
    print(f"drawn {drawn}, built {built} ({len(unbuilt)} did not build and were drawn again), "
          f"caught {caught}, survived {len(survivors)} "
          f"({len(equivalent)} of them equivalent (listed))")
    judged = built - len(equivalent)
    share = f" = {100 * caught / judged:.0f}%" if judged else ""
    print(f"score: {caught}/({built} - {len(equivalent)}){share}")
    for title, faults in (("survived", unexplained), ("equivalent (listed)", equivalent)):
        if faults:
            print(f"\n{title}:")
        for fault in faults:
            print(f"  {describe(fault)}")
            print(f"    before: {fault.before}")
            print(f"    after:  {fault.after}")
            if fault_key(fault) in equivalents:
                print(f"    reason: {equivalents[fault_key(fault)]}")
    if unbuilt:
        print("\ndid not build (drawn again):")
        for fault in unbuilt:
            print(f"  {describe(fault)}: {fault.after}")
    return 1 if unexplained else 0


def dry_run(args):
    sources, sites = collect(ROOT)
    print(f"{len(sites)} candidate sites; the first {args.sample} faults seed {args.seed} draws "
          "(a fault that does not build is followed by the next one drawn):")
    for number, fault in zip(range(1, args.sample + 1), draws(sites, sources, args.seed)):
        print(f"{number:4}  {describe(fault)}")
        print(f"      before: {fault.before}")
        print(f"      after:  {fault.after}")
    return 0


def list_sites(args):
    equivalents = load_equivalents(ROOT)
    sources, sites = collect(ROOT)
    counts = {op: 0 for op in OPERATORS}
    for site in sites:
        counts[site.op] += 1
    for op in OPERATORS:
        print(f"{op:12} {counts[op]:6}")
    print(f"{'all':12} {len(sites):6}   in {len(sources)} files")
    # An entry whose line is gone can never match again: say so, so the list stays true.
    rng = random.Random(0)  # what is drawn inside a site never moves its line
    befores = {(s.file, realise(s, sources[s.file], rng).before, s.op) for s in sites}
    for file, before, after, op in equivalents:
        if (file, before, op) not in befores:
            print(f"{EQUIVALENT_LIST}: no longer found: {file} ~~ {before} ~~ {op}")
    return 0


def main():
    parser = argparse.ArgumentParser(
        prog="scripts/mutants",
        description="Faults drawn at random over the program's C++, each built and tested as "
                    "the hand-written ones are (scripts/mutants with no option).")
    parser.add_argument("--sample", type=int, metavar="N", help="how many faults that build")
    parser.add_argument("--seed", type=int, metavar="S", help="the same seed draws the same faults")
    parser.add_argument("--dry-run", action="store_true",
                        help="only print the faults the seed draws first; build nothing")
    parser.add_argument("--list-sites", action="store_true",
                        help="print how many sites each operator has, and entries of the "
                             "equivalent list whose line is gone")
    args = parser.parse_args()
    if args.list_sites:
        return list_sites(args)
    if args.sample is None or args.seed is None or args.sample < 1:
        parser.error("--sample N (at least 1) and --seed S go together")
    if args.dry_run:
        return dry_run(args)
    return sample(args)


if __name__ == "__main__":
    # A stop from outside ends the builds and tests under way and removes the copy.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    signal.signal(signal.SIGHUP, lambda *_: sys.exit(129))
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        sys.exit(130)
