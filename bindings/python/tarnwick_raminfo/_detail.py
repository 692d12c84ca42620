"""Typed objects over the raminfo-detail/1 document.

The classes mirror docs/raminfo-detail.schema.json: one attribute per key,
named as the key, with the key's value; a null is None. Keys the document
holds but these classes do not know are left out (the document's version
rule lets later releases add keys within raminfo-detail/1); the document's
text stays at hand in ``Detail.json_text``.
"""

from __future__ import annotations

import dataclasses
import json
import typing
from dataclasses import dataclass
from typing import Any, Dict, List, Optional, Type, TypeVar

SCHEMA = "raminfo-detail/1"


class DetailFormatError(ValueError):
    """Text that is not a raminfo-detail/1 document: another schema
    version, or a key whose value is not of the schema's type. The message
    names the key's place, e.g. "devices[3].rank"."""


@dataclass(frozen=True)
class Coded:
    """A coded field: the raw code and its DMTF DSP0134 name (None for a
    code without one, so an unknown code is never lost)."""

    code: int
    name: Optional[str]


@dataclass
class Flags:
    """A bit field: the raw word and the names of its set bits."""

    raw: int
    names: List[str]


@dataclass(frozen=True)
class Text:
    """A string field. ``raw`` is the firmware's string as stored (None for
    string number 0 or a number past the string set), with U+FFFD for each
    byte that is not UTF-8; ``bytes_hex`` then holds every byte of it."""

    string_number: int
    raw: Optional[str]
    bytes_hex: Optional[str]
    placeholder: bool

    def firmware_bytes(self) -> Optional[bytes]:
        """The firmware's bytes of the string; None when there is none."""
        if self.bytes_hex is not None:
            return bytes.fromhex(self.bytes_hex)
        return None if self.raw is None else self.raw.encode("utf-8")

    @property
    def value(self) -> Optional[str]:
        """The string when it holds a real value; None for a missing string
        and for fillers such as "Not Specified"."""
        return None if self.placeholder else self.raw


@dataclass(frozen=True)
class Vendor:
    """A module's maker. ``name`` is one name per maker (None for a JEDEC
    code no maker of raminfo's list has); ``jedec_bank`` and ``jedec_code``
    are None for a maker known by name only. ``source`` is "jedec_code",
    "name", "system_maker" (a machine maker's label), "part_number" (the
    part number follows a maker's scheme) or "module_manufacturer_id";
    documents of version 1.0.0 say "manufacturer_string" for
    "jedec_code"."""

    name: Optional[str]
    jedec_bank: Optional[int]
    jedec_code: Optional[int]
    source: str
    # What a code in the string names when the part number named another maker.
    jedec_name: Optional[str] = None


@dataclass
class ModuleErrors:
    """Memory errors Linux's EDAC counted on the modules joined to a device;
    a count is None when it could not be read."""

    corrected: Optional[int]
    uncorrected: Optional[int]
    edac: List[str]
    matched_by: str


@dataclass(frozen=True)
class UnmatchedModule:
    """An EDAC module that joined no device."""

    edac: str
    label: Optional[str]
    location: Optional[str]
    corrected: Optional[int]
    uncorrected: Optional[int]


@dataclass(frozen=True)
class UnplacedErrors:
    """A controller's errors the kernel could not place on a module."""

    controller: str
    corrected: Optional[int]
    uncorrected: Optional[int]


@dataclass
class MemoryErrors:
    """Where per-module error counts come from and whether there are any;
    ``reason`` says why not when ``available`` is false."""

    source: str
    available: bool
    reason: Optional[str]
    unmatched: List[UnmatchedModule]
    unplaced: List[UnplacedErrors]


@dataclass(frozen=True)
class Position:
    """Where a module sits, as its locators say it in a pattern that is
    unambiguous or as its type 20 interleave says it; numbers are the
    firmware's own. ``source`` is "locator", "bank_locator",
    "locator_and_bank_locator" or "memory_device_mapped_address"."""

    socket: Optional[int]
    controller: Optional[int]
    channel: Optional[str]
    slot: Optional[int]
    source: str


@dataclass(frozen=True)
class MappedAddress:
    """A Memory Array Mapped Address (type 19) or a Memory Device Mapped
    Address (type 20); the other type's fields are None."""

    type: int
    handle: int
    length: int
    starting_address_raw: Optional[int]
    ending_address_raw: Optional[int]
    extended_starting_address: Optional[int]
    extended_ending_address: Optional[int]
    starting_address_bytes: Optional[int]
    ending_address_bytes: Optional[int]
    array_handle: Optional[int]
    partition_width: Optional[int]
    device_handle: Optional[int]
    array_mapped_address_handle: Optional[int]
    partition_row_position: Optional[int]
    interleave_position: Optional[int]
    interleaved_data_depth: Optional[int]


@dataclass(frozen=True)
class Configuration:
    """How the system memory is set up; the channel counts are None unless
    the table tells every slot's channel."""

    channels_total: Optional[int]
    channels_populated: Optional[int]
    free_slots: int
    installed_bytes: int
    maximum_capacity_bytes: Optional[int]
    ecc: Optional[bool]


@dataclass(frozen=True)
class Finding:
    """A finding about the configuration: ``code`` (channels_unused,
    channels_unbalanced, below_rated_speed, mixed_modules, free_slots, or a
    later one), ``severity`` ("info" or "warning"), a message for people
    and the indexes of the devices it concerns."""

    code: str
    severity: str
    message: str
    devices: List[int]


@dataclass(frozen=True)
class Totals:
    arrays: int
    slots: int
    populated: int
    installed_bytes: int
    ecc: Optional[bool]


@dataclass(frozen=True)
class MemoryArray:
    """A Physical Memory Array (SMBIOS type 16)."""

    handle: int
    length: int
    location: Optional[Coded]
    use: Optional[Coded]
    error_correction: Optional[Coded]
    ecc: Optional[bool]
    maximum_capacity_raw: Optional[int]
    extended_maximum_capacity_raw: Optional[int]
    maximum_capacity_bytes: Optional[int]
    error_information_handle: Optional[int]
    declared_devices: Optional[int]
    devices_found: int
    system_memory: bool


@dataclass
class MemoryDevice:
    """A Memory Device (SMBIOS type 17), populated or not. A field is None
    when the structure's length byte does not cover it; a decoded field
    (``size_bytes``, ``speed_mts``, ``rank``, ...) is also None when the
    firmware did not know, its ``_raw`` field then holding what it stored.
    ``errors`` is None when no EDAC module joined the device (and in
    documents written before error counts existed)."""

    handle: int
    length: int
    array_handle: Optional[int]
    error_information_handle: Optional[int]
    locator: Optional[Text]
    bank_locator: Optional[Text]
    size_raw: Optional[int]
    extended_size_raw: Optional[int]
    size_bytes: Optional[int]
    populated: bool
    system_memory: bool
    other_memory_reason: Optional[str]
    ecc: Optional[bool]
    total_width_bits: Optional[int]
    data_width_bits: Optional[int]
    form_factor: Optional[Coded]
    device_set: Optional[int]
    memory_type: Optional[Coded]
    type_detail: Optional[Flags]
    speed_raw: Optional[int]
    extended_speed_raw: Optional[int]
    speed_mts: Optional[int]
    configured_speed_raw: Optional[int]
    extended_configured_speed_raw: Optional[int]
    configured_speed_mts: Optional[int]
    manufacturer: Optional[Text]
    vendor: Optional[Vendor]
    serial_number: Optional[Text]
    asset_tag: Optional[Text]
    part_number: Optional[Text]
    attributes_raw: Optional[int]
    rank: Optional[int]
    minimum_voltage_mv: Optional[int]
    maximum_voltage_mv: Optional[int]
    configured_voltage_mv: Optional[int]
    memory_technology: Optional[Coded]
    operating_mode_capability: Optional[Flags]
    firmware_version: Optional[Text]
    module_manufacturer_id: Optional[int]
    module_product_id: Optional[int]
    subsystem_controller_manufacturer_id: Optional[int]
    subsystem_controller_product_id: Optional[int]
    non_volatile_size_bytes: Optional[int]
    volatile_size_bytes: Optional[int]
    cache_size_bytes: Optional[int]
    logical_size_bytes: Optional[int]
    pmic0_manufacturer_id: Optional[int]
    pmic0_revision_number: Optional[int]
    rcd_manufacturer_id: Optional[int]
    rcd_revision_number: Optional[int]
    errors: Optional[ModuleErrors] = None
    # The maker the module's own SPD code names, beside ``vendor``.
    module_manufacturer: Optional[Vendor] = None
    # Where the module sits; None when not told (and in older documents).
    position: Optional[Position] = None


@dataclass
class Detail:
    """The whole document. ``readable`` is false when the table could not
    be read (the document then has no arrays or devices, and ``reason``
    says why, for people; it is None otherwise). ``memory_errors`` is None
    in documents written before error counts existed; ``configuration``,
    ``mapped_addresses`` and ``findings`` in those written before them. ``json_text`` is the
    library's text, unparsed."""

    schema: str
    readable: bool
    totals: Totals
    arrays: List[MemoryArray]
    devices: List[MemoryDevice]
    memory_errors: Optional[MemoryErrors] = None
    reason: Optional[str] = None
    configuration: Optional[Configuration] = None
    mapped_addresses: Optional[List[MappedAddress]] = None
    findings: Optional[List[Finding]] = None
    json_text: str = dataclasses.field(default="", repr=False, compare=False)

    def to_dict(self) -> Dict[str, Any]:
        """The document as these objects hold it: json.loads(json_text)
        less any keys they do not know. ``reason`` is there only when it
        is not None; without ``memory_errors`` the devices' ``errors`` and
        ``module_manufacturer`` keys are left out too, as such documents
        (version 1.0.0's) had none of them."""
        out = _plain(self)
        del out["json_text"]
        if self.reason is None:
            out.pop("reason", None)
        if self.memory_errors is None:
            out.pop("memory_errors", None)
            for device in out["devices"]:
                device.pop("errors", None)
                device.pop("module_manufacturer", None)
        result: Dict[str, Any] = out
        return result


T = TypeVar("T")

# The optional keys: added within raminfo-detail/1, absent from older
# documents; the reason, present only when the table was not readable; and
# jedec_name, present only when a code in the string and another source differ.
_OPTIONAL = {
    (Detail, "memory_errors"),
    (MemoryDevice, "errors"),
    (MemoryDevice, "module_manufacturer"),
    (Detail, "reason"),
    (Vendor, "jedec_name"),
    (MemoryDevice, "position"),
    (Detail, "configuration"),
    (Detail, "mapped_addresses"),
    (Detail, "findings"),
}


def _plain(value: Any) -> Any:
    if dataclasses.is_dataclass(value):
        # A key the document left out stays out, so that null and absent
        # (jedec_name has both meanings) read back as they were written.
        absent = getattr(value, "_absent_keys", ())
        return {
            f.name: _plain(getattr(value, f.name))
            for f in dataclasses.fields(value)
            if f.name not in absent
        }
    if isinstance(value, list):
        return [_plain(v) for v in value]
    return value


def _convert(hint: Any, value: Any, where: str) -> Any:
    """VALUE checked against the type HINT and built into it."""
    origin = typing.get_origin(hint)
    if origin is typing.Union:  # Optional[X]
        if value is None:
            return None
        (inner,) = [a for a in typing.get_args(hint) if a is not type(None)]
        return _convert(inner, value, where)
    if origin is list:
        if not isinstance(value, list):
            raise DetailFormatError(f"{where}: an array expected, not {json.dumps(value)}")
        (inner,) = typing.get_args(hint)
        return [_convert(inner, v, f"{where}[{i}]") for i, v in enumerate(value)]
    if dataclasses.is_dataclass(hint):
        return _build(hint, value, where)
    # bool is an int to Python, and neither may stand in for the other here.
    if hint in (int, str, bool) and type(value) is hint:
        return value
    raise DetailFormatError(f"{where}: {hint.__name__} expected, not {json.dumps(value)}")


def _build(cls: Type[T], obj: Any, where: str) -> T:
    if not isinstance(obj, dict):
        raise DetailFormatError(f"{where or 'the document'}: an object expected")
    hints = typing.get_type_hints(cls)
    values = {}
    absent = []
    for f in dataclasses.fields(cls):
        if not f.init or f.name == "json_text":
            continue
        place = f"{where}.{f.name}" if where else f.name
        if f.name not in obj:
            if (cls, f.name) in _OPTIONAL:
                absent.append(f.name)
                continue
            raise DetailFormatError(f"{place} is missing")
        values[f.name] = _convert(hints[f.name], obj[f.name], place)
    built = cls(**values)
    if absent:
        # Not a field: equality and repr stay those of the values.
        object.__setattr__(built, "_absent_keys", frozenset(absent))
    return built


def parse_detail(text: str) -> Detail:
    """A Detail from a raminfo-detail/1 document: the library's text, or
    what ``raminfo --detail`` printed or saved. Raises DetailFormatError for
    another schema version or a value of the wrong type, and ValueError
    (json.JSONDecodeError) for text that is not JSON."""
    document = json.loads(text)
    if not isinstance(document, dict) or document.get("schema") != SCHEMA:
        found = document.get("schema") if isinstance(document, dict) else None
        raise DetailFormatError(f"not a {SCHEMA} document (schema {json.dumps(found)})")
    detail = _build(Detail, document, "")
    detail.json_text = text
    return detail
