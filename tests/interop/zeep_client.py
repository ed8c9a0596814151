"""zeep from the shipped WSDL: zeep_client.py WSDL ENDPOINT REPORT

Prints "r number N" for a SetResponse, "fault CODE" for a SOAP Fault.
"""
import sys

import zeep

client = zeep.Client(sys.argv[1])
service = client.create_service("{urn:pandel:device-config}DeviceConfig", sys.argv[2])
try:
    r = service.Set(xIn=sys.argv[3])
    print("r", "number" if isinstance(r, int) else type(r).__name__, r)
except zeep.exceptions.Fault as fault:
    print("fault", fault.code)
