#!/usr/bin/env python3
"""Checks that every #include of src/ respects the layers.

The layers and the layers each one uses are those of the quill_layer() table in src/CMakeLists.txt,
the same table the build links by. A file may include:
  - a header of its own layer;
  - from a .cpp file: a header of a layer its layer uses (PUBLIC or PRIVATE), or of a layer
    those use PUBLICly, and so on;
  - from a header: the same, but through PUBLIC uses only, because the header is read by whatever
    links its layer, which does not see the layer's PRIVATE ones.
A header under another layer's detail/ folder is that layer's own business. Qt headers belong to
the WINDOW layers alone. Every violation is reported as "file:line: reason"; the exit status is 1
when there is one, 2 when the table itself cannot be read.

Usage: scripts/check_layers.py [repository root]
"""

import os
import re
import sys

LAYER_CALL = re.compile(r"^\s*quill_layer\(([^)]*)\)", re.MULTILINE)
QUOTED_INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
QT_INCLUDE = re.compile(r"^\s*#\s*include\s+<(Q[A-Za-z]*|Qt[A-Za-z]+/[^>]*)>")


class Layer:
    def __init__(self, name, path, window, public, private):
        self.name = name
        self.path = path  # a folder under src/, or for the program, its one source file
        self.window = window
        self.public = public
        self.private = private


def read_layers(cmake_file):
    """Returns the layers of the quill_layer() table, keyed by target name."""
    with open(cmake_file, encoding="utf-8") as f:
        text = f.read()
    # Comments out, so that the documentation of the call is not read as a table row.
    text = re.sub(r"#[^\n]*", "", text)
    layers = {}
    for call in LAYER_CALL.finditer(text):
        words = call.group(1).split()
        if len(words) < 2:
            raise ValueError("quill_layer(" + call.group(1).strip() + "): needs a target and a folder")
        name, path, rest = words[0], words[1].rstrip("/"), words[2:]
        window = False
        uses = {"PUBLIC": [], "PRIVATE": []}
        scope = None
        for word in rest:
            if word == "WINDOW":
                window = True
            elif word in uses:
                scope = word
            elif scope is None:
                raise ValueError(name + ": " + word + " before PUBLIC or PRIVATE")
            else:
                uses[scope].append(word)
        if name in layers:
            raise ValueError(name + ": listed twice")
        layers[name] = Layer(name, path, window, uses["PUBLIC"], uses["PRIVATE"])
    if not layers:
        raise ValueError("no quill_layer() table")
    for layer in layers.values():
        for used in layer.public + layer.private:
            if used not in layers:
                raise ValueError(layer.name + " uses " + used + ", which is not a layer")
    cycle = find_cycle(layers)
    if cycle:
        raise ValueError("the layers use each other in a circle: " + " -> ".join(cycle))
    return layers


def find_cycle(layers):
    state = {}

    def visit(name, trail):
        state[name] = "open"
        for used in layers[name].public + layers[name].private:
            if state.get(used) == "open":
                return trail + [name, used]
            if used not in state:
                found = visit(used, trail + [name])
                if found:
                    return found
        state[name] = "done"
        return None

    for name in layers:
        if name not in state:
            found = visit(name, [])
            if found:
                return found
    return None


def public_closure(layers, names):
    """The layers named, and every layer they use PUBLICly, and so on."""
    seen = set()
    todo = list(names)
    while todo:
        name = todo.pop()
        if name not in seen:
            seen.add(name)
            todo.extend(layers[name].public)
    return seen


def visible_layers(layers, layer, from_header):
    uses = layer.public if from_header else layer.public + layer.private
    return public_closure(layers, uses) | {layer.name}


def owner(layers, rel_path):
    """The layer whose folder (or file) holds rel_path, the most specific one; None if none."""
    best = None
    for layer in layers.values():
        if rel_path == layer.path or rel_path.startswith(layer.path + "/"):
            if best is None or len(layer.path) > len(best.path):
                best = layer
    return best


def source_files(src):
    for folder, dirs, files in os.walk(src):
        dirs.sort()
        for name in sorted(files):
            if name.endswith((".h", ".cpp")):
                yield os.path.relpath(os.path.join(folder, name), src).replace(os.sep, "/")


def check(root):
    src = os.path.join(root, "src")
    layers = read_layers(os.path.join(src, "CMakeLists.txt"))
    problems = []
    for rel in source_files(src):
        shown = "src/" + rel
        layer = owner(layers, rel)
        if layer is None:
            problems.append(shown + ":1: belongs to no layer of src/CMakeLists.txt")
            continue
        from_header = rel.endswith(".h")
        visible = visible_layers(layers, layer, from_header)
        with open(os.path.join(src, rel), encoding="utf-8", errors="replace") as f:
            lines = f.readlines()
        for number, line in enumerate(lines, 1):
            where = shown + ":" + str(number) + ": "
            if not layer.window and QT_INCLUDE.match(line):
                problems.append(where + "includes a Qt header in " + layer.name +
                                ", which is no WINDOW layer")
                continue
            match = QUOTED_INCLUDE.match(line)
            if not match:
                continue
            included = match.group(1)
            if not os.path.isfile(os.path.join(src, included)):
                problems.append(where + 'includes "' + included + '", which is no file under src/')
                continue
            target = owner(layers, included)
            if target is None:
                problems.append(where + 'includes "' + included + '", which belongs to no layer')
            elif target is not layer and "/detail/" in included[len(target.path):]:
                problems.append(where + 'includes "' + included + '", a detail of ' + target.name)
            elif target.name not in visible:
                if from_header and target.name in visible_layers(layers, layer, False):
                    problems.append(where + 'includes "' + included + '" of ' + target.name +
                                    " in a header, but " + layer.name +
                                    " uses it PRIVATEly (not seen by what links " + layer.name + ")")
                else:
                    problems.append(where + 'includes "' + included + '" of ' + target.name +
                                    ", which " + layer.name + " does not use")
    return problems


def main(argv):
    root = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    try:
        problems = check(root)
    except (OSError, ValueError) as error:
        print("check_layers: src/CMakeLists.txt: " + str(error), file=sys.stderr)
        return 2
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        print("check_layers: %d include(s) against the layers of src/CMakeLists.txt" % len(problems),
              file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
