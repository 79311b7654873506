"""formkit: writes game-data containers and the debug-information file for tests.

A container is a FORM: the bytes "FORM", a u32 size (= length - 8), then chunks of a 4-byte tag, a u32
body size and the body. Every reference inside a body is a u32 offset from the start of the data; a
string reference points at the text, with the u32 byte length just before it and a NUL just after it.

Building one (chunks appear in the order they are added; every method returns the container):

    import sys; sys.path.insert(0, "<repo>/tools")
    import formkit as fk

    c = fk.Container(version=14)                 # bytecode version: decides every version-dependent layout
    c.gen8(game_name="Demo", major=2, room_order=[0, 1], game_speed=30.0)
    c.code([fk.CodeEntry("ksl_Script_a", fk.old([fk.push_var("x"), fk.call("f", 1), fk.pop_var("x")])),
            fk.CodeEntry("ksl_Script_b", fk.old([fk.push_var("x"), fk.ret()]))])
    c.vari()                                     # records for every variable the code names
    c.func()                                     # and every function it calls
    c.strg()                                     # the string pool (appended at the end when left out)
    c.chunk("OPTN", b"")                         # any other tag with raw bytes, size 0 included
    built = c.build(var_ids={"x": 100007}, func_ids={"f": 42}, texture_ids=[0x70003])
    built.write(tmpdir, "game")                  # game.win and game.win.json

Code is a list of items: an int (one word), bytes (raw), VarRef / FuncRef (an instruction word whose
4-byte operand formkit links into the occurrence chain of that variable or function name), StrIndex (an
instruction word and the pool index of a text), Mark (a named position). Helpers build the common ones:
push_var, pop_var, call, push_string, push_int32, push_double, compare, popz, ret, exit_, and word /
branch for any other. They use the current opcode numbering; old(...) turns items into the old numbering
that containers up to version 14 carry (the loader rewrites it back).

Chunk writers: gen8 (also GEN7/GENL through tag=), strg, code (both layouts; version 15 with shared
blobs and relative offsets), vari and func (both layouts; func's version-15 local-name table), glob, scpt,
tpag, txtr, optn (both layouts and the user constants, see formkit.options), objt and tmln (objects
with their events and physics block, timelines with their moments, see formkit.objects), room (rooms with
their backgrounds, views, instance and tile records, see formkit.rooms), shdr (shader records with their
sources, attribute names and extension, see formkit.shaders), font (font entries with their glyphs,
kerning pairs and the code table, see formkit.fonts), sprt (sprites with their frame entries, stored
masks and vector or skeleton content, see formkit.sprites), chunk (raw). Each takes `extra` (bytes appended to the body), `cut` (the body cut to that
many bytes) and `size` (a size word other than the body's length) for damaged variants.

built.expect (also written as JSON) holds, computed from the built bytes by the loader's rules
(formkit.expect): "chunks" (tag, offset, size, body), "strings", "code" entries, "header" (every field
read back, the room order, game speed and what the runtime derives from them), "variables" and
"functions" (record, name, count, first, the id used), "var_ids" / "func_ids" (the tables to install in
the resolver stand-ins), "patched" (every operand word after chain patching: instruction, offset, before,
after), "remapped" (every instruction word after the old-opcode rewrite), "pages" (flags bit 0, data
offset, data size, the texture id) and "tpag" (each page field before and after, and whether it logs
"what!!!!"), "locals", "glob", "unresolved" (the first name whose id is negative, or null),
"chain_errors". built.image is the whole data as the loader leaves it.

Damage (bytes in, bytes out): form_size_off, set_chunk_size, chunk_size_past_end, truncate, set_u32,
set_u16. The debug file: DebugFile().dbgi([...]).scpt([...]).inst([...]).build(); debug_path(game)
names it beside a game file.
"""

from .bytecode import (  # noqa: F401
    TYPE_D, TYPE_F, TYPE_I, TYPE_L, TYPE_B, TYPE_V, TYPE_S, TYPE_DS, TYPE_E, OPS, OLD_TO_NEW,
    VAR_CONFIG_LOSS, VAR_SCOPE_IN_WORD, VAR_ID_OFFSET, VAR_PLAIN, VAR_DEFAULT,
    SCOPE_SELF, SCOPE_GLOBAL, SCOPE_BUILTIN, SCOPE_LOCAL,
    disasm_operand_size, vm_operand_size, word, set_kind, branch, u32, remap_word, remap_walk,
    remap_bytes, old_word, old, VarRef, FuncRef, StrIndex, Mark, push_var, pop_var, call, push_string,
    push_int32, push_double, compare, popz, ret, exit_,
)
from .container import (  # noqa: F401
    Container, DebugFile, Built, CodeEntry, Variable, Function, Script, TexturePageEntry, Page, raw_image,
    debug_path,
)
from .options import optn_fields  # noqa: F401  (also gives Container its optn writer)
from .objects import Object, Physics, Timeline, PARENT_NONE  # noqa: F401  (and the objt, tmln writers)
from .rooms import Room, Background, View, Instance, Tile  # noqa: F401  (and the room writer)
from .shaders import Shader, ShaderExtension, Blob  # noqa: F401  (and the shdr writer)
from .sprites import Sprite, Raw, pack_mask, mask_size, mask_from_png, skeleton_content  # noqa: F401  (sprt)
from .fonts import Font, Glyph, default_code_table  # noqa: F401  (and the font writer)
from .damage import form_size_off, set_chunk_size, chunk_size_past_end, truncate, set_u32, set_u16  # noqa
from .common import chunks, find_chunk, form_ok, read_string, string_text  # noqa: F401
from .header import room_order_offset, DEFAULT_DISPLAY_NAME  # noqa: F401
from .expect import simulate  # noqa: F401
