# An HL7 v2 receiver for the delivery tests: python-hl7's MLLP server on
# loopback, run with Debian's own Python (python3-hl7).
#
#   /usr/bin/python3 hl7_receiver.py MODE LOG
#
# MODE is the acknowledgement it gives: AA, AE or AR (AE and AR with a
# reason in MSA-3 and an ERR segment), or "silent" for one that never
# answers. Every message received is parsed by python-hl7 and written to LOG
# as one JSON line of what a hospital system would file. Prints {"port": N}
# when ready and serves until its standard input closes.
import asyncio
import json
import sys

import hl7
from hl7.mllp import start_hl7_server

REFUSAL = "Patient P-1 unknown | not admitted"


def field(message, segment, number, component=1, subcomponent=1, nth=1):
    try:
        return message.unescape(message.extract_field(segment, nth, number, 1, component, subcomponent))
    except (IndexError, KeyError):
        return ""


def facts(message):
    obx = []
    for segment in message.segments("OBX"):
        value = str(segment[5]) if len(segment) > 5 else ""
        obx.append({
            "type": str(segment[2]),
            "code": str(segment[3][0][0]) if len(segment) > 3 else "",
            "local_code": str(segment[3][0][3]) if len(segment) > 3 and len(segment[3][0]) > 3 else "",
            "sub_id": str(segment[4]) if len(segment) > 4 else "",
            "value": message.unescape(value),
            "units": str(segment[6][0][0]) if len(segment) > 6 and str(segment[6]) else "",
            "status": str(segment[11]) if len(segment) > 11 else "",
            "time": str(segment[14]) if len(segment) > 14 else "",
        })
    return {
        "type": str(message.segment("MSH")[9]),
        "control_id": str(message.segment("MSH")[10]),
        "version": str(message.segment("MSH")[12]),
        "charset": str(message.segment("MSH")[18]) if len(message.segment("MSH")) > 18 else "",
        "patient_id": field(message, "PID", 3),
        "patient_authority": field(message, "PID", 3, 4, 2),
        "patient_authority_type": field(message, "PID", 3, 4, 3),
        "family": field(message, "PID", 5),
        "given": field(message, "PID", 5, 2),
        "birth_date": field(message, "PID", 7),
        "sex": field(message, "PID", 8),
        "study": field(message, "OBR", 2),
        "result_status": field(message, "OBR", 25),
        "interpreter": field(message, "OBR", 32, 1, 2),
        "obx": obx,
    }


async def main():
    mode, log_path = sys.argv[1], sys.argv[2]

    async def handle(reader, writer):
        try:
            while not writer.is_closing():
                message = await reader.readmessage()
                with open(log_path, "a", encoding="utf-8") as log:
                    log.write(json.dumps(facts(message)) + "\n")
                if mode == "silent":
                    continue
                ack = message.create_ack(mode)
                if mode != "AA":
                    ack.segment("MSA").assign_field(ack.escape(REFUSAL), 3)
                    ack = hl7.parse(str(ack) + "ERR|||204^Unknown key identifier^HL70357|E\r")
                writer.writemessage(ack)
                await writer.drain()
        except asyncio.IncompleteReadError:
            pass
        finally:
            writer.close()

    server = await start_hl7_server(handle, "127.0.0.1", 0, encoding="utf-8")
    print(json.dumps({"port": server.sockets[0].getsockname()[1]}), flush=True)
    await asyncio.get_running_loop().run_in_executor(None, sys.stdin.read)
    server.close()


asyncio.run(main())
