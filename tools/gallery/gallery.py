#!/usr/bin/env python3
"""gallery.py - a gallery of generated glTF documents, each framed with -camera:fit.

Writes about forty small glTF 2.0 documents that exercise what authors' models do (models far
off-centre and at very different scales, node hierarchies, matrices, animations, the scene's own
cameras, every primitive mode, sparse accessors, a second texture coordinate set, texture
transforms, binary containers), then for each one packs it with gltf2blob, renders one 320x180
frame with `nova31-shot -camera:fit` and reports the share of the frame the model covers.

    tools/gallery/gallery.py --build build --out /tmp/gallery          # all documents
    tools/gallery/gallery.py --build build --out /tmp/gallery cube torus_far   # some of them

The table goes to standard output and to OUT/gallery.txt; each document's archive, frame and
logs stay in OUT/NAME/. A pixel counts as covered when it differs from the background, taken
from the frame of a scene that draws nothing. Needs only python3 (zlib for the PNG files).
"""
import argparse
import base64
import json
import math
import os
import shutil
import struct
import subprocess
import sys
import zipfile
import zlib

# ---- PNG files (written for textures, read for the coverage) ----


def png_bytes(width, height, rgba):
    rows = b"".join(b"\0" + bytes(rgba[y * width * 4:(y + 1) * width * 4]) for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")


def read_png(path):
    """8-bit RGB or RGBA, non-interlaced: (width, height, channels, rows of bytes)."""
    data = open(path, "rb").read()
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    channels = {2: 3, 6: 4}[colour]
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        previous = line
    return width, height, channels, rows


def checker_texture(size=16, colours=((240, 200, 60), (40, 90, 200))):
    rgba = []
    for y in range(size):
        for x in range(size):
            rgba += list(colours[((x * 4 // size) + (y * 4 // size)) % 2]) + [255]
    return png_bytes(size, size, rgba)


# ---- Meshes: (positions, normals, uvs, indices) as flat lists ----


def box(sx=1.0, sy=1.0, sz=1.0):
    pos, nor, uv, idx = [], [], [], []
    faces = [((1, 0, 0), (0, 0, -1), (0, 1, 0)), ((-1, 0, 0), (0, 0, 1), (0, 1, 0)),
             ((0, 1, 0), (1, 0, 0), (0, 0, -1)), ((0, -1, 0), (1, 0, 0), (0, 0, 1)),
             ((0, 0, 1), (1, 0, 0), (0, 1, 0)), ((0, 0, -1), (-1, 0, 0), (0, 1, 0))]
    half = (sx / 2, sy / 2, sz / 2)
    for n, u, v in faces:
        base = len(pos) // 3
        for a, b in ((-1, -1), (1, -1), (1, 1), (-1, 1)):
            pos += [half[c] * (n[c] + a * u[c] + b * v[c]) for c in range(3)]
            nor += list(n)
            uv += [(a + 1) / 2, (1 - b) / 2]
        idx += [base, base + 1, base + 2, base, base + 2, base + 3]
    return pos, nor, uv, idx


def grid(function, rings, segments):
    """A (rings+1) x (segments+1) grid of function(s, t) -> (position, normal), s, t in [0, 1]."""
    pos, nor, uv, idx = [], [], [], []
    for i in range(rings + 1):
        for j in range(segments + 1):
            p, n = function(i / rings, j / segments)
            pos += p
            nor += n
            uv += [j / segments, i / rings]
    for i in range(rings):
        for j in range(segments):
            a = i * (segments + 1) + j
            b = a + segments + 1
            idx += [a, b, a + 1, a + 1, b, b + 1]
    return pos, nor, uv, idx


def sphere(r=1.0):
    def f(s, t):
        th, ph = s * math.pi, t * 2 * math.pi
        n = [math.sin(th) * math.cos(ph), math.cos(th), -math.sin(th) * math.sin(ph)]
        return [r * c for c in n], n
    return grid(f, 12, 24)


def torus(big=1.0, small=0.35):
    def f(s, t):
        a, b = s * 2 * math.pi, t * 2 * math.pi
        n = [math.cos(b) * math.cos(a), math.sin(b), -math.cos(b) * math.sin(a)]
        centre = [big * math.cos(a), 0, -big * math.sin(a)]
        return [centre[c] + small * n[c] for c in range(3)], n
    return grid(f, 24, 12)


def cylinder(r=0.5, h=2.0):
    def f(s, t):
        ph = t * 2 * math.pi
        n = [math.cos(ph), 0, -math.sin(ph)]
        return [r * n[0], h * (s - 0.5), r * n[2]], n
    return grid(f, 1, 24)


def plane(sx=2.0, sz=2.0, divisions=4):
    return grid(lambda s, t: ([sx * (t - 0.5), 0, sz * (s - 0.5)], [0, 1, 0]), divisions, divisions)


def transformed(mesh, offset=(0, 0, 0), scale=1.0):
    pos, nor, uv, idx = mesh
    return [p * scale + offset[i % 3] for i, p in enumerate(pos)], nor, uv, idx


def merged(*meshes):
    pos, nor, uv, idx = [], [], [], []
    for p, n, u, i in meshes:
        base = len(pos) // 3
        pos += p
        nor += n
        uv += u
        idx += [k + base for k in i]
    return pos, nor, uv, idx


# ---- Documents ----


class Doc:
    def __init__(self):
        self.bin = bytearray()
        self.views, self.accessors, self.meshes, self.materials = [], [], [], []
        self.nodes, self.roots, self.cameras, self.images, self.textures = [], [], [], [], []
        self.animations, self.extensions_used, self.lights = [], [], []

    def view(self, data, target=None):
        while len(self.bin) % 4:
            self.bin.append(0)
        self.views.append({"buffer": 0, "byteOffset": len(self.bin), "byteLength": len(data)})
        if target:
            self.views[-1]["target"] = target
        self.bin += data
        return len(self.views) - 1

    def floats(self, values, kind, bounds=False):
        n = {"SCALAR": 1, "VEC2": 2, "VEC3": 3, "VEC4": 4}[kind]
        a = {"bufferView": self.view(struct.pack("<%df" % len(values), *values)), "componentType": 5126,
             "count": len(values) // n, "type": kind}
        if bounds:
            a["min"] = [min(values[c::n]) for c in range(n)]
            a["max"] = [max(values[c::n]) for c in range(n)]
        self.accessors.append(a)
        return len(self.accessors) - 1

    def indices(self, values):
        kind, form = (5125, "<%dI") if max(values, default=0) > 65535 else (5123, "<%dH")
        self.accessors.append({"bufferView": self.view(struct.pack(form % len(values), *values)),
                               "componentType": kind, "count": len(values), "type": "SCALAR"})
        return len(self.accessors) - 1

    def sparse(self, accessor, indices, values):
        """Substitutions of `accessor` (a JSON dict): element indices[i] takes the i-th value."""
        form, kind = ("<%dB", 5121) if max(indices) < 256 else ("<%dH", 5123)
        accessor["sparse"] = {"count": len(indices),
                              "indices": {"bufferView": self.view(struct.pack(form % len(indices), *indices)), "componentType": kind},
                              "values": {"bufferView": self.view(struct.pack("<%df" % len(values), *values))}}

    def material(self, colour, texture=None, tex_coord=None, transform=None):
        m = {"pbrMetallicRoughness": {"baseColorFactor": list(colour)}}
        if texture is not None:
            info = {"index": texture}
            if tex_coord is not None:
                info["texCoord"] = tex_coord
            if transform is not None:
                info["extensions"] = {"KHR_texture_transform": transform}
            m["pbrMetallicRoughness"]["baseColorTexture"] = info
        self.materials.append(m)
        return len(self.materials) - 1

    def texture(self, png):
        self.images.append({"uri": "data:image/png;base64," + base64.b64encode(png).decode()})
        self.textures.append({"source": len(self.images) - 1})
        return len(self.textures) - 1

    def primitive(self, mesh, material=None, mode=None, uv1=None, indexed=True):
        pos, nor, uv, idx = mesh
        p = {"attributes": {"POSITION": self.floats(pos, "VEC3", True), "NORMAL": self.floats(nor, "VEC3")}}
        if uv:
            p["attributes"]["TEXCOORD_0"] = self.floats(uv, "VEC2")
        if uv1:
            p["attributes"]["TEXCOORD_1"] = self.floats(uv1, "VEC2")
        if indexed:
            p["indices"] = self.indices(idx)
        if material is not None:
            p["material"] = material
        if mode is not None:
            p["mode"] = mode
        return p

    def mesh(self, *primitives):
        self.meshes.append({"primitives": list(primitives)})
        return len(self.meshes) - 1

    def node(self, root=True, **members):
        self.nodes.append(members)
        if root:
            self.roots.append(len(self.nodes) - 1)
        return len(self.nodes) - 1

    def animate(self, node, path, times, values, interpolation="LINEAR"):
        kind = "VEC4" if path == "rotation" else "VEC3"
        sampler = {"input": self.floats(times, "SCALAR", True), "output": self.floats(values, kind),
                   "interpolation": interpolation}
        self.animations.append({"samplers": [sampler], "channels": [{"sampler": 0, "target": {"node": node, "path": path}}]})

    def document(self, glb=False):
        d = {"asset": {"version": "2.0", "generator": "NOVA31 gallery"}, "scene": 0,
             "scenes": [{"nodes": self.roots}], "nodes": self.nodes, "meshes": self.meshes,
             "accessors": self.accessors, "bufferViews": self.views,
             "buffers": [{"byteLength": len(self.bin)}]}
        for key in ("materials", "cameras", "images", "textures", "animations"):
            if getattr(self, key):
                d[key] = getattr(self, key)
        if self.extensions_used:
            d["extensionsUsed"] = self.extensions_used
        if self.lights:
            d["extensions"] = {"KHR_lights_punctual": {"lights": self.lights}}
            d.setdefault("extensionsUsed", []).append("KHR_lights_punctual")
        if not glb:
            d["buffers"][0]["uri"] = "data:application/octet-stream;base64," + base64.b64encode(self.bin).decode()
            return json.dumps(d).encode()
        text = json.dumps(d).encode()
        text += b" " * (-len(text) % 4)
        binary = bytes(self.bin) + b"\0" * (-len(self.bin) % 4)
        body = struct.pack("<I4s", len(text), b"JSON") + text + struct.pack("<I4s", len(binary), b"BIN\0") + binary
        return struct.pack("<4sII", b"glTF", 2, 12 + len(body)) + body


RED, GREEN, BLUE, GOLD, WHITE, GREY = (0.9, 0.15, 0.1, 1), (0.2, 0.8, 0.3, 1), (0.2, 0.35, 0.9, 1), (1, 0.75, 0.2, 1), (1, 1, 1, 1), (0.6, 0.6, 0.6, 1)


def single(mesh, colour=GREY, offset=(0, 0, 0), size=1.0, glb=False, **node):
    """One mesh, its vertices moved by offset and scaled by size, on one node with `node` members."""
    d = Doc()
    m = d.mesh(d.primitive(transformed(mesh, offset, size), d.material(colour)))
    d.node(mesh=m, **node)
    return d.document(glb)


def strip_and_fan(mode):
    """A cone as a TRIANGLE_FAN (6) around its apex, or a band round a cylinder as a
    TRIANGLE_STRIP (5); neither indexed."""
    d = Doc()
    pos, nor = [], []
    if mode == 6:
        pos += [0, 2, 0]
        nor += [0, 1, 0]
        for k in range(25):
            a = 2 * math.pi * k / 24
            pos += [math.cos(a), 0, -math.sin(a)]
            nor += [math.cos(a) * 0.9, 0.45, -math.sin(a) * 0.9]
    else:
        for k in range(25):
            a = 2 * math.pi * k / 24
            for y in (1.5, 0.0):  # counter-clockwise seen from outside
                pos += [math.cos(a), y, -math.sin(a)]
                nor += [math.cos(a), 0, -math.sin(a)]
    m = d.mesh(d.primitive((pos, nor, [], []), d.material(GOLD), mode=mode, indexed=False))
    d.node(mesh=m, translation=[40, -3, 12], scale=[5, 5, 5])
    return d.document()


def lines_beside_triangles(mode):
    """A box plus a primitive of points (0), lines (1), a line loop (2) or a line strip (3)."""
    d = Doc()
    ring = []
    for k in range(16):
        a = 2 * math.pi * k / 16
        ring += [1.5 * math.cos(a), 1.5 * math.sin(a), 0]
    lines = d.primitive((ring, [0, 0, 1] * 16, [], list(range(16))), d.material(RED), mode=mode)
    m = d.mesh(d.primitive(box(1.6, 1.6, 1.6), d.material(GREY)), lines)
    d.node(mesh=m, translation=[-2, 5, 1])
    return d.document()


def sparse_wave():
    """A plane whose base positions are flat; a sparse accessor lifts a ridge of vertices."""
    d = Doc()
    pos, nor, uv, idx = plane(4, 4, 8)
    p = d.primitive((pos, nor, uv, idx), d.material(GREEN))
    accessor = d.accessors[p["attributes"]["POSITION"]]
    lifted = [i for i in range(len(pos) // 3) if abs(pos[3 * i]) < 0.6]
    values = []
    for i in lifted:
        values += [pos[3 * i], 1.5, pos[3 * i + 2]]
    d.sparse(accessor, lifted, values)
    accessor["max"][1] = 1.5
    d.node(mesh=d.mesh(p), translation=[3, 0, -7])
    return d.document()


def sparse_without_view():
    """Positions given by a sparse accessor alone (no base buffer view): zeros plus substitutions."""
    d = Doc()
    pos, nor, uv, idx = box(2, 1, 1)
    p = d.primitive((pos, nor, uv, idx), d.material(BLUE))
    a = d.accessors[p["attributes"]["POSITION"]]
    del a["bufferView"]
    count = len(pos) // 3
    d.sparse(a, list(range(count)), pos)
    d.node(mesh=d.mesh(p), translation=[0, 10, 0], scale=[3, 3, 3])
    return d.document()


def textured(tex_coord=None, transform=None, glb=False):
    d = Doc()
    texture = d.texture(checker_texture())
    pos, nor, uv, idx = box(2, 2, 2)
    uv1 = [1 - c for c in uv] if tex_coord == 1 else None
    if transform is not None:
        d.extensions_used.append("KHR_texture_transform")
    m = d.mesh(d.primitive((pos, nor, uv, idx), d.material(WHITE, texture, tex_coord, transform), uv1=uv1))
    d.node(mesh=m, translation=[-6, 2, 6], rotation=[0, 0.3826834, 0, 0.9238795])
    return d.document(glb)


def with_camera(kind, animated=False):
    """A table with a ball, seen by the document's own camera (looking down -z at it)."""
    d = Doc()
    m = d.mesh(d.primitive(merged(box(2, 0.2, 2), transformed(sphere(0.5), (0, 0.6, 0))), d.material(GOLD)))
    d.node(mesh=m, translation=[10, 0, 10])
    if kind == "perspective":
        d.cameras.append({"type": "perspective", "perspective": {"yfov": 0.8, "znear": 0.1, "zfar": 100}})
    else:
        d.cameras.append({"type": "orthographic", "orthographic": {"xmag": 1.6, "ymag": 0.9, "znear": 0.1, "zfar": 100}})
    camera = d.node(camera=0, translation=[10, 0.6, 12.5])
    if animated:
        d.animate(camera, "translation", [0, 20], [9.6, 0.6, 12.6, 10.4, 1.0, 12.2])
    return d.document()


def hierarchy():
    d = Doc()
    leaf = d.mesh(d.primitive(box(1, 1, 1), d.material(BLUE)))
    root = d.node(name="Root", translation=[-50, 20, 30], scale=[0.5, 0.5, 0.5], children=[])
    for k in range(6):
        a = 2 * math.pi * k / 6
        child = d.node(root=False, mesh=leaf, translation=[3 * math.cos(a), 0, 3 * math.sin(a)],
                       rotation=[0, math.sin(a / 2), 0, math.cos(a / 2)])
        d.nodes[root]["children"].append(child)
    return d.document()


def matrix_node():
    d = Doc()
    m = d.mesh(d.primitive(torus(), d.material(RED)))
    s, c = math.sin(0.6), math.cos(0.6)
    d.node(mesh=m, matrix=[3, 0, 0, 0, 0, 3 * c, 3 * s, 0, 0, -3 * s, 3 * c, 0, 100, 50, -20, 1])
    return d.document()


def animated_translation():
    d = Doc()
    n = d.node(mesh=d.mesh(d.primitive(sphere(1), d.material(GREEN))))
    d.animate(n, "translation", [0, 1, 2], [0, 0, 0, 0, 4, 0, 0, 0, 0])
    d.animate(n, "rotation", [0, 2], [0, 0, 0, 1, 0, 0.7071068, 0, 0.7071068])
    return d.document()


def city(blocks=6, size=400.0):
    d = Doc()
    cube = d.mesh(d.primitive(box(1, 1, 1), d.material(GREY)))
    ground = d.mesh(d.primitive(plane(size, size, 1), d.material(GREEN)))
    d.node(mesh=ground, translation=[5000, 0, 5000])
    step = size / blocks
    for i in range(blocks):
        for j in range(blocks):
            h = 10 + 90 * (((i * 7 + j * 3) % 5) / 4)
            d.node(mesh=cube, translation=[5000 + (i - blocks / 2 + 0.5) * step, h / 2, 5000 + (j - blocks / 2 + 0.5) * step],
                   scale=[step * 0.6, h, step * 0.6])
    return d.document()


def lights_scene():
    d = Doc()
    d.lights.append({"type": "point", "color": [1, 0.8, 0.6], "intensity": 50})
    m = d.mesh(d.primitive(merged(plane(6, 6), transformed(box(1, 2, 1), (0, 1, 0))), d.material(WHITE)))
    d.node(mesh=m, translation=[-20, -5, 0])
    d.node(extensions={"KHR_lights_punctual": {"light": 0}}, translation=[-20, -2, 1])
    return d.document()


def no_indices():
    d = Doc()
    pos, nor, uv, idx = box(3, 1, 1)
    flat = ([pos[3 * i + c] for i in idx for c in range(3)], [nor[3 * i + c] for i in idx for c in range(3)],
            [uv[2 * i + c] for i in idx for c in range(2)], [])
    d.node(mesh=d.mesh(d.primitive(flat, d.material(GOLD), indexed=False)), translation=[0, -30, 0])
    return d.document()


def no_normals():
    d = Doc()
    pos, nor, uv, idx = sphere(2)
    p = d.primitive((pos, nor, uv, idx), d.material(BLUE))
    del p["attributes"]["NORMAL"]
    d.node(mesh=d.mesh(p), translation=[7, 7, 7])
    return d.document()


def many_materials():
    d = Doc()
    places = ((0, 0, 0), (1.2, 0, 0), (0, 0, 1.2), (1.2, 0, 1.2), (0.6, 1.1, 0.6))
    prims = [d.primitive(transformed(box(), places[k]), d.material(c)) for k, c in enumerate((RED, GREEN, BLUE, GOLD, WHITE))]
    d.node(mesh=d.mesh(*prims), translation=[-4, 0, 0])
    return d.document()


def empty_scene():
    d = Doc()
    d.node(name="Nothing")
    return d.document()


GALLERY = {
    "cube": lambda: single(box()),
    "cube_glb": lambda: single(box(), GOLD, glb=True),
    "sphere_tiny": lambda: single(sphere(), BLUE, size=0.002),
    "sphere_huge": lambda: single(sphere(), RED, size=5000),
    "torus_far": lambda: single(torus(), GREEN, offset=(2500, -800, 1200)),
    "torus_negative_far": lambda: single(torus(), GOLD, offset=(-40000, 3000, -90000), size=20),
    "cylinder_tall": lambda: single(cylinder(1, 10), RED),
    "bench_long": lambda: single(merged(box(12, 0.4, 2), transformed(box(0.4, 1.5, 1.6), (-5.5, -0.9, 0)), transformed(box(0.4, 1.5, 1.6), (5.5, -0.9, 0))), BLUE, offset=(0, 5, 0)),
    "plane_flat": lambda: single(plane(10, 10), GREEN, offset=(3, -2, 1)),
    "sphere_offset_y": lambda: single(sphere(), WHITE, offset=(0, 200, 0)),
    "stairs": lambda: single(merged(*[transformed(box(1, 0.3, 3), (k, 0.15 + 0.3 * k, 0)) for k in range(8)]), GREY),
    "node_scaled": lambda: single(sphere(), GOLD, translation=[0, 0, -300], scale=[20, 8, 12]),
    "node_rotated": lambda: single(cylinder(0.3, 4), BLUE, rotation=[0.3826834, 0, 0, 0.9238795], translation=[5, 5, 5]),
    "hierarchy": hierarchy,
    "matrix_node": matrix_node,
    "animated": animated_translation,
    "city": city,
    "lights": lights_scene,
    "no_indices": no_indices,
    "no_normals": no_normals,
    "materials": many_materials,
    "strip": lambda: strip_and_fan(5),
    "fan": lambda: strip_and_fan(6),
    "points_and_box": lambda: lines_beside_triangles(0),
    "lines_and_box": lambda: lines_beside_triangles(1),
    "line_loop_and_box": lambda: lines_beside_triangles(2),
    "line_strip_and_box": lambda: lines_beside_triangles(3),
    "sparse": sparse_wave,
    "sparse_no_view": sparse_without_view,
    "textured": textured,
    "textured_glb": lambda: textured(glb=True),
    "texcoord1": lambda: textured(tex_coord=1),
    "texture_transform": lambda: textured(transform={"offset": [0.25, 0], "rotation": 0.5, "scale": [2, 2]}),
    "camera_perspective": lambda: with_camera("perspective"),
    "camera_orthographic": lambda: with_camera("orthographic"),
    "camera_animated": lambda: with_camera("perspective", animated=True),
}


def coverage(path, background):
    width, height, channels, rows = read_png(path)
    covered = 0
    for y, row in enumerate(rows):
        for x in range(width):
            p = row[x * channels:x * channels + 3]
            q = background[y][x * channels:x * channels + 3]
            covered += max(abs(p[c] - q[c]) for c in range(3)) > 8
    return covered / (width * height)


def render(build, out, name, document, time):
    folder = os.path.join(out, name)
    os.makedirs(folder, exist_ok=True)
    scene = os.path.join(folder, "scene1.gltf")
    open(scene, "wb").write(document)
    archive = os.path.join(folder, "assets.zip")
    assets = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "assets")
    with zipfile.ZipFile(archive, "w") as z:
        for member in sorted(os.listdir(assets)):
            if member.endswith(".glsl") or member == "tune.ogg":
                z.write(os.path.join(assets, member), member)
        z.write(scene, "scene1.gltf")
    pack = subprocess.run([os.path.join(build, "gltf2blob"), "scene1.gltf"], cwd=folder, capture_output=True, text=True)
    open(os.path.join(folder, "gltf2blob.log"), "w").write(pack.stdout + pack.stderr)
    if pack.returncode != 0:
        return pack.returncode, None, (pack.stdout + pack.stderr).strip().splitlines()[-1:]
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    shot = subprocess.run([os.path.join(build, "nova31-shot"), "-data:" + archive, "-camera:fit", "--size", "320x180",
                           "--fps", "0", time], cwd=folder, capture_output=True, text=True, env=env)
    log = shot.stdout + shot.stderr
    open(os.path.join(folder, "shot.log"), "w").write(log)
    notes = [line for line in log.splitlines() if line.startswith(("glTF:", "Framing", "Scene:", "Camera"))]
    if shot.returncode != 0:
        return shot.returncode, None, notes + log.strip().splitlines()[-1:]
    return 0, os.path.join(folder, "shot_%s.png" % time), notes


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--out", default="/tmp/nova31-gallery")
    parser.add_argument("--time", default="1")
    parser.add_argument("names", nargs="*")
    options = parser.parse_args()
    options.build = os.path.abspath(options.build)
    names = options.names or list(GALLERY)
    shutil.rmtree(options.out, ignore_errors=True)
    os.makedirs(options.out)
    status, empty, _ = render(options.build, options.out, "_empty", empty_scene(), options.time)
    if status != 0:
        sys.exit("the empty scene did not render")
    background = read_png(empty)[3]
    lines = ["%-22s %6s  %s" % ("document", "frame", "notes")]
    for name in names:
        status, png, notes = render(options.build, options.out, name, GALLERY[name](), options.time)
        share = "%5.1f%%" % (100 * coverage(png, background)) if png else "exit %d" % status
        lines.append("%-22s %6s  %s" % (name, share, "; ".join(sorted(set(notes)))[:150]))
        print(lines[-1], flush=True)
    open(os.path.join(options.out, "gallery.txt"), "w").write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
