"""A spyne server for the shipped WSDL: spyne_server.py WSDL PORT ANSWER RECORD

spyne declares a service in Python rather than loading a WSDL: the namespace, operation and part
names are read from the shipped WSDL, and the types are the WSDL's (xsd:string in, xsd:long out).
ANSWER is r=N, fault=client or fault=server. Appends each decoded xIn to RECORD as one line of
hexadecimal UTF-8.
"""
import sys
import xml.etree.ElementTree as ElementTree
from wsgiref.simple_server import WSGIRequestHandler, make_server

from spyne import Application, Fault, Long, ServiceBase, Unicode, rpc
from spyne.protocol.soap import Soap11
from spyne.server.wsgi import WsgiApplication

wsdl_path, port, answer, record = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
WSDL = "{http://schemas.xmlsoap.org/wsdl/}"
definitions = ElementTree.parse(wsdl_path).getroot()
namespace = definitions.get("targetNamespace")
port_type = definitions.find(WSDL + "portType")
operations = sorted(op.get("name") for op in port_type.findall(WSDL + "operation"))
assert operations == ["Get", "Set"], operations


class DeviceConfig(ServiceBase):
    @rpc(Unicode(min_occurs=1, nillable=False), _returns=Long, _out_variable_name="r",
         _operation_name="Set")
    def Set(ctx, xIn):
        with open(record, "a") as out:
            out.write(xIn.encode("utf-8").hex() + "\n")
        if answer == "fault=client":
            raise Fault(faultcode="Client", faultstring="told to refuse")
        if answer == "fault=server":
            raise Fault(faultcode="Server", faultstring="told to fail")
        return int(answer[2:])

    @rpc(Unicode(min_occurs=1, nillable=False), _returns=Unicode, _out_variable_name="xOut",
         _operation_name="Get")
    def Get(ctx, xIn):
        return xIn


class QuietHandler(WSGIRequestHandler):
    def log_message(self, *args):
        pass


application = Application([DeviceConfig], tns=namespace, name="DeviceConfig",
                          in_protocol=Soap11(validator="lxml"), out_protocol=Soap11())
make_server("127.0.0.1", port, WsgiApplication(application),
            handler_class=QuietHandler).serve_forever()
