"""Renders a frame exported by `nova31-shot --export` with Blender's Cycles, as the demo would
show it if its light were exact: a path-traced reference.

    blender -b --factory-startup --python scripts/reference/cycles_reference.py -- \
        --frame shot_10.json --out reference_10.png [--spp 256] [--bounces 8] [--seed 0] \
        [--size 800x450] [--filter-width 1.0] [--threads 0]

The scene is built from the export alone (tools/nova31-shot/frame_export.h):
- one mesh of the captured world-space triangles, unshared vertices, the captured normals as
  custom normals (the demo shades with them), texture coordinates with v flipped (the demo's
  v = 0 is the image's top row, Blender's its bottom row);
- per material a Lambert surface (diffuse BSDF, roughness 0) whose colour is
  (baseColor x texel)^2, the texel read raw (Non-Color) with linear interpolation and repeat,
  as the demo samples the base level;
- per light a true point light (radius 0). A Lambert surface of albedo a under a point light of
  power P watts shows radiance a / pi x P / (4 pi d^2) x cos; the demo shows
  a x intensity x lightScale x color x cos / d^2. Equal when P = 4 pi^2 x intensity x lightScale,
  with the light's colour as its colour;
- no world light (a black world): the demo has no ambient term;
- the camera: perspective, the vertical field of view and the near plane of the export;
- `--bounces` diffuse bounces (0: direct light only), `--spp` samples per pixel, a fixed seed,
  no denoiser, no adaptive sampling, no clamping, a box pixel filter `--filter-width` pixels wide.

The render is written linear as OpenEXR ("OUT.exr" beside the PNG) and encoded as the demo
encodes its frame: sqrt of the linear value, clamped to [0, 1], rounded to 8 bits ("OUT"). The
world has nothing the demo's clear colour stands for: pixels no triangle covers are black here.
"""

import array
import json
import math
import os
import struct
import sys
import time
import zlib

import bpy
from mathutils import Matrix, Vector


def parse_arguments(argv):
    options = {"spp": 256, "bounces": 8, "seed": 0, "size": None, "filter_width": 1.0, "threads": 0}
    args = argv[argv.index("--") + 1:] if "--" in argv else []
    i = 0
    while i < len(args):
        name = args[i]
        if i + 1 >= len(args):
            sys.exit("cycles_reference: %s needs a value" % name)
        value = args[i + 1]
        if name == "--frame":
            options["frame"] = value
        elif name == "--out":
            options["out"] = value
        elif name in ("--spp", "--bounces", "--seed", "--threads"):
            options[name[2:]] = int(value)
        elif name == "--size":
            w, h = value.lower().split("x")
            options["size"] = (int(w), int(h))
        elif name == "--filter-width":
            options["filter_width"] = float(value)
        else:
            sys.exit("cycles_reference: unknown option %s" % name)
        i += 2
    if "frame" not in options or "out" not in options:
        sys.exit("cycles_reference: --frame FILE.json and --out FILE.png are needed")
    return options


# ---- Reading the export ----

TRIANGLE_BYTES = 3 * 8 * 4 + 4


def read_frame(path):
    with open(path, encoding="utf-8") as f:
        frame = json.load(f)
    if frame.get("format") != "nova31-frame" or frame.get("version") != 1:
        sys.exit("cycles_reference: %s is not a nova31-frame export of version 1" % path)
    folder = os.path.dirname(os.path.abspath(path))
    with open(os.path.join(folder, frame["triangles"]), "rb") as f:
        data = f.read()
    count = frame["triangleCount"]
    if len(data) != count * TRIANGLE_BYTES:
        sys.exit("cycles_reference: %s holds %d bytes, not the %d of %d triangles"
                 % (frame["triangles"], len(data), count * TRIANGLE_BYTES, count))
    triangles = [struct.unpack_from("<24fi", data, t * TRIANGLE_BYTES) for t in range(count)]
    return frame, folder, triangles


# ---- The scene ----

def clear_scene():
    for collection in (bpy.data.objects, bpy.data.meshes, bpy.data.lights, bpy.data.cameras,
                       bpy.data.materials, bpy.data.images, bpy.data.worlds):
        for item in list(collection):
            collection.remove(item)


def build_materials(frame, folder):
    materials = []
    images = []
    for texture in frame["textures"]:
        image = bpy.data.images.load(os.path.join(folder, texture["file"]))
        image.colorspace_settings.name = "Non-Color"  # raw texels: the shader squares them itself
        image.alpha_mode = "CHANNEL_PACKED"            # colour untouched by alpha
        images.append(image)
    for k, m in enumerate(frame["materials"]):
        material = bpy.data.materials.new("material%d" % k)
        material.use_nodes = True
        nodes, links = material.node_tree.nodes, material.node_tree.links
        nodes.clear()
        output = nodes.new("ShaderNodeOutputMaterial")
        diffuse = nodes.new("ShaderNodeBsdfDiffuse")
        diffuse.inputs["Roughness"].default_value = 0.0
        factor = nodes.new("ShaderNodeMixRGB")  # baseColor x texel
        factor.blend_type = "MULTIPLY"
        factor.inputs["Fac"].default_value = 1.0
        factor.inputs["Color1"].default_value = (1.0, 1.0, 1.0, 1.0)
        factor.inputs["Color2"].default_value = tuple(m["baseColor"][:3]) + (1.0,)
        if m["texture"] >= 0:
            texel = nodes.new("ShaderNodeTexImage")
            texel.image = images[m["texture"]]
            texture = frame["textures"][m["texture"]]
            texel.interpolation = "Linear" if texture["filter"] == "linear" else "Closest"
            texel.extension = "REPEAT" if texture["wrap"] == "repeat" else "EXTEND"
            links.new(texel.outputs["Color"], factor.inputs["Color1"])
        square = nodes.new("ShaderNodeVectorMath")  # linear albedo: the square of the colour
        square.operation = "MULTIPLY"
        links.new(factor.outputs["Color"], square.inputs[0])
        links.new(factor.outputs["Color"], square.inputs[1])
        links.new(square.outputs["Vector"], diffuse.inputs["Color"])
        links.new(diffuse.outputs["BSDF"], output.inputs["Surface"])
        materials.append(material)
    return materials


def build_mesh(triangles, materials):
    vertices, faces, uvs, normals, indices = [], [], [], [], []
    for t, tri in enumerate(triangles):
        corners = [tri[8 * k:8 * k + 8] for k in range(3)]
        face_normal = (Vector(corners[1][0:3]) - Vector(corners[0][0:3])).cross(
            Vector(corners[2][0:3]) - Vector(corners[0][0:3]))
        for c in corners:
            vertices.append(c[0:3])
            n = Vector(c[3:6])
            normals.append(n.normalized() if n.length > 0 else face_normal.normalized())
            uvs.extend((c[6], 1.0 - c[7]))
        faces.append((3 * t, 3 * t + 1, 3 * t + 2))
        indices.append(tri[24])
    mesh = bpy.data.meshes.new("frame")
    mesh.from_pydata(vertices, [], faces)
    for material in materials:
        mesh.materials.append(material)
    mesh.polygons.foreach_set("material_index", indices)
    mesh.polygons.foreach_set("use_smooth", [True] * len(faces))
    layer = mesh.uv_layers.new(name="uv")
    layer.data.foreach_set("uv", uvs)  # loops are in vertex order: from_pydata keeps it
    mesh.use_auto_smooth = True  # custom normals need it (Blender 3.x)
    mesh.normals_split_custom_set(normals)
    mesh.validate(clean_customdata=False)
    obj = bpy.data.objects.new("frame", mesh)
    bpy.context.scene.collection.objects.link(obj)
    return obj


def build_lights(frame):
    scale = frame["lightScale"]
    for k, light in enumerate(frame["lights"]):
        colour = light["color"]
        peak = max(colour)
        if light["intensity"] <= 0 or peak <= 0:
            continue
        data = bpy.data.lights.new("light%d" % k, type="POINT")
        # Blender colours stay within [0, 1]; the peak goes into the power.
        data.color = tuple(c / peak for c in colour)
        data.energy = 4.0 * math.pi * math.pi * light["intensity"] * scale * peak
        data.shadow_soft_size = 0.0
        obj = bpy.data.objects.new("light%d" % k, data)
        obj.location = light["position"]
        bpy.context.scene.collection.objects.link(obj)


def build_camera(frame):
    c = frame["camera"]
    data = bpy.data.cameras.new("camera")
    data.type = "PERSP"
    data.sensor_fit = "VERTICAL"
    data.angle_y = c["yfov"]
    data.clip_start = c["near"]
    data.clip_end = c["far"] if c["far"] > 0 else 1.0e6
    obj = bpy.data.objects.new("camera", data)
    # Blender's camera looks down its -Z with +Y up.
    right, up, back = Vector(c["right"]), Vector(c["up"]), -Vector(c["forward"])
    basis = Matrix((right, up, back)).transposed().to_4x4()
    basis.translation = Vector(c["position"])
    obj.matrix_world = basis
    bpy.context.scene.collection.objects.link(obj)
    bpy.context.scene.camera = obj


def configure_render(options, width, height):
    scene = bpy.context.scene
    scene.render.engine = "CYCLES"
    scene.cycles.device = "CPU"
    scene.cycles.samples = options["spp"]
    scene.cycles.use_adaptive_sampling = False
    scene.cycles.use_denoising = False
    scene.cycles.seed = options["seed"]
    scene.cycles.use_animated_seed = False
    bounces = options["bounces"]
    scene.cycles.max_bounces = bounces
    scene.cycles.diffuse_bounces = bounces
    scene.cycles.glossy_bounces = 0
    scene.cycles.transmission_bounces = 0
    scene.cycles.volume_bounces = 0
    scene.cycles.transparent_max_bounces = 0
    scene.cycles.sample_clamp_direct = 0.0
    scene.cycles.sample_clamp_indirect = 0.0
    scene.cycles.caustics_reflective = False
    scene.cycles.caustics_refractive = False
    scene.cycles.blur_glossy = 0.0
    scene.cycles.pixel_filter_type = "BOX"
    scene.cycles.filter_width = options["filter_width"]
    scene.cycles.use_auto_tile = False
    if options["threads"] > 0:
        scene.render.threads_mode = "FIXED"
        scene.render.threads = options["threads"]
    scene.render.film_transparent = False
    scene.render.resolution_x = width
    scene.render.resolution_y = height
    scene.render.resolution_percentage = 100
    scene.render.pixel_aspect_x = scene.render.pixel_aspect_y = 1.0
    scene.render.use_compositing = False
    scene.render.use_sequencer = False
    scene.view_settings.view_transform = "Standard"
    scene.view_settings.look = "None"
    scene.view_settings.exposure = 0.0
    scene.view_settings.gamma = 1.0
    world = bpy.data.worlds.new("black")
    world.use_nodes = True
    world.node_tree.nodes["Background"].inputs["Strength"].default_value = 0.0
    world.node_tree.nodes["Background"].inputs["Color"].default_value = (0.0, 0.0, 0.0, 1.0)
    scene.world = world
    settings = scene.render.image_settings
    settings.file_format = "OPEN_EXR"
    settings.color_depth = "32"
    settings.exr_codec = "ZIP"
    settings.color_mode = "RGB"


# ---- Encoding as the demo encodes ----

def write_png(path, width, height, rows):
    """8-bit RGB PNG from `rows`, top row first, each a bytes object of 3 * width values."""
    raw = b"".join(b"\x00" + row for row in rows)

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def encode(exr_path, png_path):
    image = bpy.data.images.load(exr_path)
    width, height = image.size
    pixels = array.array("f", bytes(4 * 4 * width * height))
    image.pixels.foreach_get(pixels)
    # Like the framebuffer: sqrt of the linear light, clamped, to the nearest 8-bit step.
    table = {}
    rows = []
    for y in range(height - 1, -1, -1):  # Blender's rows run bottom up
        row = bytearray(3 * width)
        base = 4 * width * y
        for x in range(width):
            for c in range(3):
                v = pixels[base + 4 * x + c]
                code = table.get(v)
                if code is None:
                    code = int(math.sqrt(min(max(v, 0.0), 1.0)) * 255.0 + 0.5)
                    table[v] = code
                row[3 * x + c] = code
        rows.append(bytes(row))
    write_png(png_path, width, height, rows)


def main():
    options = parse_arguments(sys.argv)
    frame, folder, triangles = read_frame(options["frame"])
    width, height = options["size"] or (frame["width"], frame["height"])
    clear_scene()
    materials = build_materials(frame, folder)
    build_mesh(triangles, materials)
    build_lights(frame)
    build_camera(frame)
    configure_render(options, width, height)
    out = os.path.abspath(options["out"])
    exr = os.path.splitext(out)[0] + ".exr"
    bpy.context.scene.render.filepath = exr
    started = time.time()
    bpy.ops.render.render(write_still=True)
    seconds = time.time() - started
    encode(exr, out)
    print("cycles_reference: wrote %s (%dx%d, %d triangles, %d lights, %d spp, %d bounces, seed %d) in %.1f s"
          % (out, width, height, len(triangles), len(frame["lights"]), options["spp"], options["bounces"],
             options["seed"], seconds))


main()
