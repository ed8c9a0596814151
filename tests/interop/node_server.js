// A node-soap server built from the shipped WSDL:
//   node node_server.js WSDL PORT PATH ANSWER RECORD   (ANSWER: r=N, fault=client or fault=server)
// (INTEROP_NODE_MODULES names the folder that holds the soap package.) Appends each decoded xIn
// to RECORD as one line of hexadecimal UTF-8.
const fs = require('fs');
const http = require('http');
const path = require('path');
const soap = require(path.join(process.env.INTEROP_NODE_MODULES, 'soap'));

const [wsdlPath, port, servicePath, answer, record] = process.argv.slice(2);

// node-soap hands over an element that carries attributes (the module's xIn has
// xsi:type="xsd:string") as {attributes, $value}.
function Text(element) {
  return typeof element === 'object' && element !== null ? element.$value : element;
}

const service = {
  DeviceConfig: {
    DeviceConfig: {
      Set(request) {
        fs.appendFileSync(record, Buffer.from(Text(request.xIn), 'utf8').toString('hex') + '\n');
        if (answer.startsWith('fault='))
          throw {Fault: {faultcode: answer === 'fault=client' ? 'soap:Client' : 'soap:Server',
                         faultstring: 'told to ' + answer}};
        return {r: Number(answer.slice(2))};
      },
      Get(request) {
        return {xOut: Text(request.xIn)};
      },
    },
  },
};

const server = http.createServer((request, response) => {
  response.statusCode = 404;
  response.end();
});
// Listen only once the WSDL and its schema are loaded: node-soap attaches its request handler then.
soap.listen(server, {
  path: servicePath,
  services: service,
  xml: fs.readFileSync(wsdlPath, 'utf8'),
  uri: wsdlPath,
  callback: (error) => {
    if (error)
      throw error;
    server.listen(Number(port), '127.0.0.1');
  },
});
